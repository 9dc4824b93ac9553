// The install steps proper, on the object runtime: Program Files folder,
// vendor, install and codec folders, the three copies with their presence
// tests, the registration, and the success message. Every runtime object
// they make is gone when they return, so the runtime can be released.
#pragma once

#include "setup/install_flow.h"
#include "setup/payloads.h"

void InstallPluginFiles(SetupMessages& messages, const SetupPlaces& places,
                        const PayloadFolder& payloads);
