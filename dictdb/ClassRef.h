#pragma once

#include <typeinfo>

// A class reference: names a concrete class and creates instances of it, so that a class can be
// stored in a table and instantiated later (hash classes, cipher classes, plug-in classes).
template <class Base, class... Args>
class TClassRef
{
public:
    using TFactory = Base *(*)(Args...);

    TClassRef() = default;

    template <class T>
    static TClassRef Of()
    {
        return TClassRef(&typeid(T), [](Args... AArgs) -> Base * { return new T(AArgs...); });
    }

    bool IsNull() const { return m_Type == nullptr; }
    explicit operator bool() const { return m_Type != nullptr; }

    // Answers nullptr for an empty reference.
    Base *Create(Args... AArgs) const { return m_Factory ? m_Factory(AArgs...) : nullptr; }

    // True when Obj is exactly of this class (not of a descendant).
    bool IsClassOf(const Base *Obj) const { return Obj && m_Type && typeid(*Obj) == *m_Type; }

    bool operator==(const TClassRef &Other) const
    {
        if (!m_Type || !Other.m_Type)
            return m_Type == Other.m_Type;
        return *m_Type == *Other.m_Type;
    }

private:
    TClassRef(const std::type_info *AType, TFactory AFactory) : m_Type(AType), m_Factory(AFactory) {}

    const std::type_info *m_Type = nullptr;
    TFactory m_Factory = nullptr;
};
