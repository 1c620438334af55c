#include "base/PathBytes.h"
#include "support/RunTool.h"
#include "window/CliCommandLine.h"

#include <QTest>

// Each word quoted comes out of a real shell as the bytes of the name it stands for.
class CliCommandLineTest : public QObject {
    Q_OBJECT

  private slots:
    void aQuotedWordIsTheNamesBytes_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("shell's own")
            << QByteArray("it's $HOME `x` \\ \"*?[a]\" ~ ! # & ; | < > ( )");
        QTest::newRow("newline at the end") << QByteArray("two\nlines\n");
        QTest::newRow("UTF-8") << QByteArray("\xC3\xBC\xF0\x9F\x98\x80.png");
        QTest::newRow("not UTF-8") << QByteArray("caf\xE9 \xFF'\x80.jpg");
        QTest::newRow("pair then byte") << QByteArray("\xF0\x90\x82\x80\xED\xB2\x80");
    }
    void aQuotedWordIsTheNamesBytes() {
        QFETCH(QByteArray, name);
        const QString command = QStringLiteral("printf %s ") + ShellQuoted(PathText(name));
        const ToolRun shell = RunTool(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        QVERIFY(shell.succeeded());
        QCOMPARE(shell.out, name);
        QCOMPARE(command.toUtf8(), command.toLocal8Bit());  // no text lost on the clipboard
    }
};

QTEST_MAIN(CliCommandLineTest)
#include "CliCommandLineTest.moc"
