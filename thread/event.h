// A waitable event: the object that JThread::Wait waits on.
#pragma once

namespace morix {

// An event is either signalled or not. A manual-reset event stays signalled
// until Reset; an auto-reset event releases exactly one waiter and then is
// non-signalled again. Built on an eventfd, so a wait on several events is a
// single poll(2).
class JEvent {
  public:
    enum class Mode { kManualReset, kAutoReset };

    explicit JEvent(Mode mode, bool initiallySignalled = false);
    ~JEvent();
    JEvent(const JEvent&) = delete;
    JEvent& operator=(const JEvent&) = delete;

    // False only when the kernel refused an eventfd; such an event can never
    // be waited on (a wait that includes it fails).
    bool IsValid() const { return fd_ >= 0; }

    void Set();
    void Reset();

    // Consumes the signal of an auto-reset event; reports whether the event is
    // signalled (manual reset: without changing it). Never blocks.
    bool TryAcquire();

    // The descriptor to poll for readability; -1 when invalid.
    int Descriptor() const { return fd_; }

  private:
    int fd_ = -1;
    Mode mode_;
};

}  // namespace morix
