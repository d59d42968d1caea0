// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Finishes or undoes every move that a kill or a power cut interrupted, from what the moves left in the key store's
// folders (see FileMove): a move whose copy is whole is finished by removing the photo where it was, one whose copy
// was cut short is undone by removing the copy, and every temporary copy goes. Afterwards each photo is whole in
// exactly one place, and no marker or temporary copy is left. Whatever a marker says, a file is removed only while
// all it holds is in another file too, so a garbled or forged marker costs no photo; it never names a file outside
// the folders the lists show and the sent-keys folder, and no link is followed.
namespace MoveRecovery {

// Before anything lists or moves a photo, while no other start of the program can.
void finishInterruptedMoves();

} // namespace MoveRecovery
