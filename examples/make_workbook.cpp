// make_workbook OUT.xlsx IN.yaml: writes the workbook a description stands for.
#include <iostream>

#include "examples/workbook_writer.hpp"
#include "support/base/errors.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_workbook OUT.xlsx IN.yaml\n";
    return 2;
  }
  try {
    tovik::examples::write_workbook(argv[1], tovik::examples::read_description(argv[2]));
  } catch (const std::exception& e) {
    std::cerr << "make_workbook: " << tovik::describe_error(e) << "\n";
    return 1;
  }
  return 0;
}
