#include "app/TestSequence.h"

int main(int argc, char* argv[]) {
  return korvo::RunTestSequence(argc, argv);
}
