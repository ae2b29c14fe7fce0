#include "app/query_entry.h"

int main(int argc, char** argv) {
  return hlv::queryMain(argc, argv);
}
