#pragma once
// What the window asks of volumes without waiting on them: the drive list
// from the tables alone, and each volume's space as a worker found it.
#include "platform/Volumes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarnel {

// The drive list from the mount table and the device tables alone, touching
// no mount point: what a window shows until a worker's ReadSystemDriveList
// (which stats the mount points of local disks to leave out bind mounts of
// single files) answers.
DriveList ReadSystemDriveListFromTables();

// A volume's space as its worker last found it; never waits. A root with no
// answer yet, or one older than a second, gets a worker (one at a time per
// root) whose answer comes through the listeners. DriveTotalBytes and
// DriveFreeBytes wait as long as the volume does: not for the window's thread.
struct VolumeSpaceAnswer {
    bool answered = false;
    int64_t totalBytes = 0;
    int64_t freeBytes = 0;
};
VolumeSpaceAnswer VolumeSpace(const std::string& root);

// Called on the worker's thread with the root that was answered, one listener
// per owner. Setting an empty one removes the owner's, and waits for a call
// under way to end.
void SetVolumeSpaceListener(const void* owner, std::function<void(const std::string& root)> listener);

} // namespace tarnel
