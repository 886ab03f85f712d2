#pragma once
// Test binaries run by hand (not through CTest's launcher, cmake/test-env) get
// the same environment the launcher gives: a scratch VEXIL_HOME of their own,
// VEXIL_RESOURCES at the build tree's bundle, TZ=UTC and LC_ALL=C.UTF-8, so a
// run never writes into the user's real home.

namespace vexil::test {

// Sets what is unset; call before anything reads the environment. Under the
// launcher (VEXIL_HOME already set) it changes nothing.
void prepareEnvironment();
// Removes the scratch home made by prepareEnvironment after a passing run;
// after a failing one it is kept and its path printed.
void finishEnvironment(int result);

}  // namespace vexil::test
