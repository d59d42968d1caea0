// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class Ir;

// A receiving device takes one transfer at a time, but devices do not wait for each other: each device has its own
// line, where beams wait in the order they were sent and start one after another. A phone that never answers holds
// up only its own line. Infrared reaches whatever faces the port, so it is one line of its own.
namespace BeamQueue {

// Starts ir at once when no beam runs to its device, else when those before it have ended.
void enqueue(Ir *ir);
// ir has ended or goes: the next one to its device starts.
void remove(Ir *ir);

} // namespace BeamQueue
