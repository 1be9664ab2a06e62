#include "e2e_reference.h"

#include "e2e_synth.h"

namespace murmelin::e2e {

double pink_bank_response_db(double freq, double play_rate) {
  return synth_bank_response_db(freq, 44100.0, play_rate);
}

}  // namespace murmelin::e2e
