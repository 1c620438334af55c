#pragma once

#include "engine/ConversionEngine.h"

#include <cstdint>
#include <map>
#include <set>

// One batch of pictures: items 0 .. count - 1 go to the engine a few ahead of the first one not
// yet taken up, and come back in item order, whatever order they finish in. In its turn each
// item's outcome is made again when its source is no longer the content it was made from (an
// earlier item's output saved over it, another program wrote it: its size or times differ), at most
// kMostRemadeForSource times; then it is offered to the client, which may find it made with
// values no longer in force and have it made again; then its output file takes its name (so where
// two items map to one name, the later item's file wins), and the client takes its outcome up.
//
// Re-entrant by construction. Every call to the client (jobFor, reached, current, takeUp,
// finished) may run an event loop, a message box say, in which outcomes arrive, the client's
// own data change, and abandon() or start() is called. So the batch's state is whole before each
// call: outcomes are kept by item number, the first item not taken up has moved past an item
// before its outcome is handed over, and after each call the batch looks again at where it
// stands instead of at what it held before. Calls never nest: what arrives during one waits for
// the loop further up, which goes on with it when the call returns.
//
// Used from one thread, the one that made it; the callbacks run on it. Holds a reference to the
// client, which must outlive it.
class OrderedBatch {
  public:
    class Client {
      public:
        virtual ~Client() = default;
        // The item goes to the engine now: its job (the number is filled in). A failure raised
        // here is kept and handed over in the item's turn, failed at PictureStage::Start.
        virtual PictureJob jobFor(int item) = 0;
        // The item is now the first not taken up; once per item, before its outcome is known.
        virtual void reached(int /*item*/) {}
        // In the item's turn, before its file takes its name: whether the outcome is what the
        // item is to be made into. If not, the outcome is dropped with its staged file and the
        // item made again, before every other job, from a fresh jobFor; the new outcome is asked
        // about in turn. The outcomes waiting further on are then asked too, and those found
        // stale made again in the usual order, so that they are not made one at a time in their
        // turns; each at most once so, since values that keep changing would have them made
        // again at every turn. In its turn, an outcome of the job that jobFor then gives must count
        // as current (unless the client's data changed meanwhile), or the item is made over and
        // over.
        virtual bool current(int /*item*/, const PictureOutcome& /*outcome*/) { return true; }
        // The item's outcome, in its turn: its file has taken its name, or it failed (a file
        // that could not take its name failed at PictureStage::Write).
        virtual void takeUp(int item, PictureOutcome& outcome) = 0;
        // Every item was taken up. The batch no longer runs and may be started again.
        virtual void finished() = 0;
        // Whether every outcome is current (current() always answers true) and no two items
        // have one output name: the files may then take their names as soon as they are
        // durable, on another thread, before their turns, which spares this thread the work.
        // A batch abandoned then leaves those files named, whole.
        virtual bool namesAsSoonAsDurable() const { return false; }
    };

    // `workers` and `memoryBytes` as for ConversionEngine (0: the defaults).
    explicit OrderedBatch(Client& client, int workers = 0, std::uint64_t memoryBytes = 0);

    // Starts a batch of `count` items; the batch must not be running.
    void start(int count);
    bool running() const { return running_; }
    // Stops at once: no callback follows, no file not yet taken up is left behind.
    void abandon();

    int workers() const { return engine_.workers(); }
    std::shared_ptr<MemoryBudget> sharedBudget() const { return engine_.sharedBudget(); }
    // How many outcomes of the latest batch the client found no longer current.
    int madeAgain() const { return madeAgain_; }

    static constexpr int kMostRemadeForSource = 3;

  private:
    // Whether the item's outcome was made from its source as the file is now, or may stand
    // though it was not (the file keeps changing, or its outcome failed before it was read);
    // counts the makings again this asks for.
    bool madeFromSourceAsItIs(int item, const PictureOutcome& outcome);
    // Takes up what is ready in item order and keeps the engine supplied, until it must wait.
    void drive();
    // Whether the batch that a loop or a call began in is still the one running.
    bool stillRunning(std::uint64_t batch) const { return running_ && batch == batch_; }
    void startMore(std::uint64_t batch);
    // Hands the item's job to the engine; `first` puts it before the jobs that wait.
    void submit(int item, bool first);
    void arrived(PictureOutcome&& outcome);
    // Makes again each waiting outcome that the client no longer holds current.
    void renewStale(std::uint64_t batch);

    Client& client_;
    ConversionEngine engine_;
    bool running_ = false;
    bool driving_ = false;     // a loop of drive() runs, further up the stack
    std::uint64_t batch_ = 0;  // counts the batches started and abandoned
    int count_ = 0;
    int next_ = 0;  // the next item to start
    int head_ = 0;  // the first item not taken up
    bool headReached_ = false;
    int madeAgain_ = 0;
    std::map<int, PictureOutcome> ready_;  // arrived and not yet taken up, by item
    std::set<int> renewed_;                // items made again ahead of their turn
    std::map<int, int> remadeForSource_;   // items made again since their sources changed
};
