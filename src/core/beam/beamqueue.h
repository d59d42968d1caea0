// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class Ir;

// One link carries one transfer at a time: beams wait here in the order they were sent and start one after another.
namespace BeamQueue {

// Starts ir at once when no beam runs, else when those before it have ended.
void enqueue(Ir *ir);
// ir has ended or goes: the next one starts.
void remove(Ir *ir);

} // namespace BeamQueue
