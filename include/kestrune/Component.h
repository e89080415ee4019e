// The small component framework the PDF component is built on: a set type keyed
// by an enumeration, and TComponent (owner, name, loading and design states).
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <initializer_list>

namespace kestrune {

// A set of members of the enumeration E, member i stored as bit i (E's
// enumerators must have ordinals below 64).
template <typename E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members) {
        for (E m : members) Include(m);
    }
    static constexpr TSet FromBits(std::uint64_t bits) {
        TSet s;
        s.FBits = bits;
        return s;
    }

    constexpr bool Contains(E member) const { return (FBits & Bit(member)) != 0; }
    constexpr void Include(E member) { FBits |= Bit(member); }
    constexpr void Exclude(E member) { FBits &= ~Bit(member); }
    constexpr bool IsEmpty() const { return FBits == 0; }
    constexpr std::uint64_t Bits() const { return FBits; }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr std::uint64_t Bit(E member) { return std::uint64_t(1) << static_cast<unsigned>(member); }
    std::uint64_t FBits = 0;
};

enum class TComponentStateFlag { csDesigning, csLoading };
using TComponentState = TSet<TComponentStateFlag>;

// Base of the components: the owner is the QObject parent, which deletes what it
// owns; Name is the object name.
class TComponent : public QObject {
    Q_OBJECT
public:
    explicit TComponent(QObject* AOwner = nullptr);

    QObject* Owner() const { return parent(); }
    QString GetName() const { return objectName(); }
    void SetName(const QString& Value) { setObjectName(Value); }
    TComponentState ComponentState() const { return FComponentState; }

    // Marks the component as sitting in a visual designer.
    void SetDesigning(bool Value);
    // A stored form is being read into the component: csLoading is set until
    // EndLoading, which then calls Loaded().
    void BeginLoading();
    void EndLoading();

protected:
    // Called when the stored properties have all been read; clears csLoading.
    virtual void Loaded();

private:
    TComponentState FComponentState;
};

}  // namespace kestrune
