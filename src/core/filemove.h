// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <functional>

// The one way the program moves a photo. A move never replaces a file that is already at the target, not even one
// that appears there while the move runs, and it never leaves a photo cut short: when it ends, whatever happened,
// the photo is whole in exactly one place. Within a file system the photo is renamed; to another one it is copied
// into a hidden temporary file beside the target, flushed to the disk, given its name, and only then removed from
// where it was; a marker beside it (see MoveMarker) tells the next start how to finish or undo a move that a kill or
// a power cut interrupted (see MoveRecovery). A path that no longer names a regular file (a symbolic link, a
// folder, a FIFO) is not moved.
namespace FileMove {

struct Result
{
    bool moved = false;
    // Why the file did not move, for the operator: the path concerned and the system's reason.
    QString reason;
};

Result move(const QString &from, const QString &to);

// Fault injection for tests only.
struct TestHooks
{
    // Runs just before the file takes its name at the target, when another program could take that name first.
    std::function<void(const QString &target)> beforePlacing;
    // Runs between any two steps of a move that change the disk, so that a test can kill the move there.
    std::function<void()> betweenSteps = {};
    // Behave as on file systems whose rename cannot refuse to replace a file (some network and FUSE ones).
    bool renameCannotRefuseToReplace = false;
};
void setTestHooks(const TestHooks &hooks);

} // namespace FileMove
