#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One window per user and display. A second start hands the files it was given to the window
// that runs, through a local socket in the user's runtime folder, and ends; the window that runs
// takes them as if they were dropped on its list.
//
// Starts are serialised by a lock beside the socket until they find the window, so that two
// starts at the same moment make one window, and a socket left by a window that crashed is taken
// over, never a live one. A start's files are added once it confirms that it ends: one that gave
// up waiting for a stopped window opens its own, and the stopped window, when it goes on, drops
// them.
class OneWindow : public QObject {
    Q_OBJECT
  public:
    // `socketPath`: where the window that runs listens (SocketPathFor).
    explicit OneWindow(QString socketPath, QObject* parent = nullptr);
    ~OneWindow() override;

    enum class Start {
        HandedOver,  // a window runs and took the files: this process ends
        Listening,   // this process is the window from now on
        Alone        // a window runs but did not answer: this one opens a window of its own
    };
    // `paths` are absolute; an empty list asks the running window only to show itself.
    Start start(const QStringList& paths);

    // Where the files of later starts go, in the order they came; those that came before the
    // receiver was set are given to it at once. Called on the window's thread.
    void setReceiver(std::function<void(const QStringList&)> receiver);

    // No later start is taken from now on (the window is closing): each opens its own.
    void stopListening();

    // The socket of the user's window on the display this process shows its windows on.
    static QString SocketPathFor(const QString& platform);

    // How long a start waits for the window that runs to take its files (ms).
    static constexpr int kAnswerMs = 10000;

  private:
    void acceptOne();
    void readFrom(QLocalSocket* socket);

    QString socketPath_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void(const QStringList&)> receiver_;
    std::vector<QStringList> early_;
};
