// Carries the test programs' precompiled header (cmake/Kx305.cmake).
