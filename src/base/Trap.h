#pragma once

#include <functional>
#include <map>

class Dialogs;
class RuntimeError;

// The error trap of a procedure that numbers its steps. Each step runs through line() (or test()
// for the test of a conditional block); a failure inside it, or inside any helper it calls, is
// shown in the error report with the procedure's label and the step's number, and the procedure
// goes on with its next step. So a trapped procedure reads as its list of numbered steps:
//
//     Trap trap(dialogs, TrapLabel::PushButton4_Click);
//     trap.line(100, [&] { list.ClearImageList(); });
//
// The trap keeps pointers to `dialogs` and `label`; both must outlive it. A step may be a loop
// of its own steps: an inner failure is reported and the loop goes on.
class Trap {
  public:
    using FailureHandler = std::function<void(const RuntimeError& failure, int line)>;

    Trap(Dialogs& dialogs, const char* label) : dialogs_(&dialogs), label_(label) {}
    // A trap that hands each failure to `onFailure` instead of showing the report, for callers
    // that deal with failures otherwise (a drop skips what it cannot read).
    explicit Trap(FailureHandler onFailure) : onFailure_(std::move(onFailure)) {}

    // Runs one step under line number `number`.
    void line(int number, const std::function<void()>& step);

    // Runs a statement that carries no number of its own: a failure is reported under the last
    // numbered line, or 0 before the first.
    void run(const std::function<void()>& step);

    // Runs the test of a conditional block and answers it. A test that fails is reported and
    // answers true: execution resumes with the first step inside the block.
    bool test(int number, const std::function<bool()>& condition);

    // Makes a failure with `errorNumber` run `handler` instead of the error report and end the
    // procedure: every later step is skipped and every later test answers false.
    void divert(int errorNumber, std::function<void()> handler);

    // Ends the procedure where it stands, from outside it (the window closes while a step waits
    // in a message box): every later step is skipped and every later test answers false.
    void end() { ended_ = true; }
    bool ended() const { return ended_; }
    // The line number being executed: 0 before the first numbered line.
    int currentLine() const { return line_; }

  private:
    void reportCurrentFailure();

    Dialogs* dialogs_ = nullptr;
    const char* label_ = "";
    FailureHandler onFailure_;
    int line_ = 0;
    bool ended_ = false;
    std::map<int, std::function<void()>> diversions_;
};
