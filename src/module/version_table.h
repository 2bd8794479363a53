// Per-build addresses in the game, and the build that is running.
#pragma once

#include <stdint.h>

enum : uint32_t { SupportedBuildCount = 2 };

struct VersionAddressTable {
    uint32_t ballLoadCallPoint[SupportedBuildCount];
    uint32_t ballListIdSite[SupportedBuildCount];
    uint32_t selectionCallPoint[SupportedBuildCount];
    uint32_t ballListSizeSite[SupportedBuildCount];
    uint32_t previewIdSite[SupportedBuildCount];
    uint32_t selectionRecordPointer[SupportedBuildCount];
    uint32_t ballTableCallPoint[SupportedBuildCount];
};

extern const VersionAddressTable VersionAddresses;

// The game builds the module supports, compared with the host's 32-bit code.
extern const uint8_t SupportedGameVersions[SupportedBuildCount];

// -1 until attach succeeds, then the column of the running build.
extern int32_t GameVersion;
extern uint32_t CurrentBallTableCallPoint;

// Takes the running build's column; `version` must be a supported build.
void selectVersionRow(int32_t version);
