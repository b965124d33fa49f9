// `quorvanta --list [--json]`: the drives the main dialog would list.
#pragma once

#include <string>

// After start-up has filled g_app (adapters, LoaderFileName): runs the first
// scan, takes the drives the main dialog lists (CollectListedDrives) and
// prints one line per drive to standard output:
//   A:T<TAB>product id<TAB>revision<TAB>version code (2 hex digits) or -<TAB>USB|ATAPI
// or, with json, the same as a JSON array of objects. Returns the exit code:
// 0, or 1 when the first scan failed (its message shown, nothing printed,
// no further command sent), as the main dialog then never appears.
//
// every_drive: the list without a package instead (FormatEveryDrive).
// `listed`, when given, receives the number of drives listed.
int RunListCommand(bool json, bool every_drive = false, int* listed = nullptr);

// The text RunListCommand prints, built into `out` (always terminated; empty
// after a failed scan). Returns the number of drives listed.
int FormatDriveList(bool json, char* out, int size);
// Every supported drive the scan finds, USB or ATAPI, whatever a package's
// loader data would keep (a list made without a package). The same forms;
// the JSON names the list: "list": "all" here, "package" above.
int FormatEveryDrive(bool json, char* out, int size);

// Where a listed drive sits in this host's kernel, for the JSON form: its
// device node ("/dev/sg2") and host:channel:target:lun. False when the
// platform has no such thing (a virtual PC). Null (the default): no fields.
using KernelDeviceQuery = bool (*)(int adapter, int target, std::string* node,
                                   std::string* address);
void SetKernelDeviceQuery(KernelDeviceQuery query);
