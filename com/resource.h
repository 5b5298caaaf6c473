// Resource identifiers of the server module.
#pragma once

#define IDS_PROJNAME 100
#define IDS_NOT_AVAILABLE 101
