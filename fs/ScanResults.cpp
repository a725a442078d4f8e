#include "fs/ScanResults.h"

void ScanResults::clear() {
    partitionTables.clear();
    bootSectors.clear();
    fatSectors.clear();
    directoryRuns.clear();
    ntfsSystemRecords.clear();
    ntfsRecordRuns.clear();
    unreadable.runs().clear();
}
