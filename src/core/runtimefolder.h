// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The folder for the program's lock and socket: one that only this user controls, so that no other user can take the
// lock first or answer in the program's place. $XDG_RUNTIME_DIR when it is set and sound (this user's, not a link, no
// access for group or others); otherwise a folder of the user's own in their cache folder, made when missing and
// checked the same way. Nothing is ever taken from a shared folder such as /tmp.
struct RuntimeFolder
{
    // Where the lock and the socket go; empty when there is no sound folder.
    QString path;
    // Why path is empty, naming the folder: one line for the operator.
    QString errorString;
    // When $XDG_RUNTIME_DIR was set but passed over: why, naming it and the folder taken instead.
    QString passedOver;

    static RuntimeFolder ofThisUser();
    // The user's own folder, taken when $XDG_RUNTIME_DIR is not sound.
    static QString ownFolder();
};
