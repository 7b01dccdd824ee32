// Announces a run of one case and returns from main at once; the settings come from the
// environment the test gives it.
#include "notify/sender.hpp"

int main() {
  tovik::sender::send_result(tovik::Value(tovik::Dict{{"select", tovik::Value(1)}, {"passed", tovik::Value(1)}}));
  return 0;
}
