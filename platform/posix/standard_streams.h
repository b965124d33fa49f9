// Standard input, output and error closed when the program starts (`>&-`, a
// service manager that gives it none): the next file the program opens
// would take the free descriptor, and whatever it writes for the user
// would land in that file (a capture, a trace, the lock, a drive's node).
#pragma once

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null, as
// OpenSSH and sudo do, before anything else is opened. False when one was
// closed and /dev/null could not stand in for it.
bool OpenClosedStandardStreams();
