// Wraps one slot of the engine's entry-point table for the length of a scope.
//
// Each call is counted and forwarded to the real engine, or to a stand-in when
// one is set. Tests use it to see how often and in which order the component
// calls the engine, and for the few refusals that no real document provokes.
// Create it only once the engine is loaded (the slot must be bound).
#pragma once

#include <functional>
#include <type_traits>

#include <kestrune/Engine.h>

namespace testing_support {

template <auto& Slot, typename Fn = std::remove_reference_t<decltype(Slot)>>
class EngineSpy;

template <auto& Slot, typename R, typename... A>
class EngineSpy<Slot, R (*)(A...)> {
public:
    EngineSpy() : FSaved(Slot) {
        Real = Slot;
        Calls = 0;
        StandIn = nullptr;
        Slot = &Call;
    }
    ~EngineSpy() {
        Slot = FSaved;
        StandIn = nullptr;
    }
    EngineSpy(const EngineSpy&) = delete;
    EngineSpy& operator=(const EngineSpy&) = delete;

    // Calls made through the slot since the spy was created.
    static inline int Calls = 0;
    // The real entry, for stand-ins that pass calls on.
    static inline R (*Real)(A...) = nullptr;
    // When set, answers in place of the real entry.
    static inline std::function<R(A...)> StandIn;

private:
    static R Call(A... args) {
        ++Calls;
        if (StandIn) return StandIn(args...);
        return Real(args...);
    }
    R (*FSaved)(A...);
};

// Puts a stand-in into one slot of the engine's entry-point table for the
// length of a scope, with no counting or forwarding.
template <typename Slot>
class SlotSwap {
public:
    SlotSwap(Slot& Entry, Slot Replacement) : FEntry(Entry), FSaved(Entry) { FEntry = Replacement; }
    ~SlotSwap() { FEntry = FSaved; }
    SlotSwap(const SlotSwap&) = delete;
    SlotSwap& operator=(const SlotSwap&) = delete;

private:
    Slot& FEntry;
    Slot FSaved;
};

}  // namespace testing_support
