#pragma once

namespace Tessary {

// Base of classes whose objects own something that must not be duplicated.
class NoCopy {
protected:
    NoCopy() = default;
    ~NoCopy() = default;

public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;
};

}  // namespace Tessary
