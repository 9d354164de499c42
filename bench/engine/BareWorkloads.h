// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The benchmark's work written plainly, with no holders, no stop checks and
// no run around it: the reference the engine's stage times are held against.
namespace bare {

void integerStep();
void floatingPointStep();
void piComputation();
void memoryStep();
void diskStep(const char* path);

} // namespace bare
