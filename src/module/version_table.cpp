#include "module/version_table.h"

const VersionAddressTable VersionAddresses = {
    {0x0119C5F1, 0x01214571},  // ballLoadCallPoint
    {0x010F32C0, 0x0116A0E0},  // ballListIdSite
    {0x0051DF03, 0x00529073},  // selectionCallPoint
    {0x010F2DEF, 0x01169C3F},  // ballListSizeSite
    {0x01530374, 0x015B629C},  // previewIdSite
    {0x01932678, 0x019BCFF0},  // selectionRecordPointer
    {0x00431553, 0x00430B23},  // ballTableCallPoint
};

const uint8_t SupportedGameVersions[SupportedBuildCount] = {0, 1};

int32_t GameVersion = -1;
uint32_t CurrentBallTableCallPoint = 0;

void selectVersionRow(int32_t version) {
    GameVersion = version;
    CurrentBallTableCallPoint = VersionAddresses.ballTableCallPoint[version];
}
