#pragma once

#include "platform/files/FileHandle.h"

#include <utility>

namespace platform::files {

// A descriptor owned by one object: closed with it, moved but never copied.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int Fd) : m_Fd(Fd) {}
    UniqueFd(UniqueFd &&Other) noexcept : m_Fd(std::exchange(Other.m_Fd, -1)) {}
    UniqueFd &operator=(UniqueFd &&Other) noexcept
    {
        if (this != &Other)
            Reset(std::exchange(Other.m_Fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_Fd; }
    void Reset(int Fd = -1)
    {
        if (m_Fd >= 0)
            CloseHandle(m_Fd);
        m_Fd = Fd;
    }

private:
    int m_Fd = -1;
};

} // namespace platform::files
