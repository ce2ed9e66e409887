#include "tests/support/Unprivileged.h"

#include <unistd.h>

namespace korvo::test {

Unprivileged::Unprivileged() {
    if (::geteuid() == 0) {
        switched_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
}

Unprivileged::~Unprivileged() {
    if (switched_) {
        [[maybe_unused]] int user = ::seteuid(0);
        [[maybe_unused]] int group = ::setegid(0);
    }
}

bool Unprivileged::effective() const {
    return ::geteuid() != 0;
}

}  // namespace korvo::test
