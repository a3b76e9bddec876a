// POSIX platform implementation (filled in by the platform work).
