// SPDX-License-Identifier: GPL-3.0-or-later
// The reference the recorded spectrum is compared with: the pink filter bank's computed
// magnitude response, designed for 44100 Hz and run at `play_rate`.
#pragma once

namespace murmelin::e2e {

double pink_bank_response_db(double freq, double play_rate);

}  // namespace murmelin::e2e
