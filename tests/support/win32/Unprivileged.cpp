#include "tests/support/Unprivileged.h"

namespace korvo::test {

Unprivileged::Unprivileged() = default;
Unprivileged::~Unprivileged() = default;

bool Unprivileged::effective() const {
    return false;
}

}  // namespace korvo::test
