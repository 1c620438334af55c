#pragma once

#include "engine/ConversionEngine.h"

#include <cstdint>
#include <deque>
#include <optional>

// One batch of pictures: items 0 .. count - 1 go to the engine a few ahead of the first one not
// yet taken up, and come back in item order, whatever order they finish in. In its turn each
// item's output file takes its name (so where two items map to one name, the later item's file
// wins), and then the client takes its outcome up. A client may run an event loop inside a
// callback (a message box): outcomes arriving meanwhile wait their turn, and abandon() stops the
// batch at once.
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
        // The item's outcome, in its turn: its file has taken its name, or it failed (a file
        // that could not take its name failed at PictureStage::Write).
        virtual void takeUp(int item, PictureOutcome& outcome) = 0;
        // Every item was taken up.
        virtual void finished() = 0;
    };

    // `workers` and `memoryBytes` as for ConversionEngine (0: the defaults).
    explicit OrderedBatch(Client& client, int workers = 0, std::uint64_t memoryBytes = 0);

    // Starts a batch of `count` items; the batch must not be running.
    void start(int count);
    bool running() const { return running_; }
    // Stops at once: no callback follows, no file not yet taken up is left behind.
    void abandon();

    int workers() const { return engine_.workers(); }

  private:
    void startMore();
    void arrived(PictureOutcome&& outcome);
    void takeUpInOrder();

    Client& client_;
    ConversionEngine engine_;
    bool running_ = false;
    bool takingUp_ = false;  // a callback runs: outcomes that arrive meanwhile wait
    int count_ = 0;
    int next_ = 0;  // the next item to start
    int head_ = 0;  // the first item not taken up
    bool headReached_ = false;
    std::deque<std::optional<PictureOutcome>> waiting_;  // items head_ .. next_ - 1
};
