#pragma once
// File permissions do not stop root. Tests of refused access run their checks inside an
// Unprivileged scope: when the tests run as root it takes the effective user and group
// "nobody" for the scope (files the fixture made stay root's, so nobody can read but not
// write them); otherwise the permissions already apply. On Windows, where POSIX permission
// bits do not refuse access, it is never effective and such tests skip.

namespace korvo::test {

class Unprivileged {
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

    // False when running as root and the switch failed: such a test cannot run here.
    bool effective() const;

private:
    bool switched_ = false;
};

}  // namespace korvo::test
