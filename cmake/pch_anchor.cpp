// Nothing: the target exists for the precompiled header the test programs share
// (cmake/build_speed.cmake).
