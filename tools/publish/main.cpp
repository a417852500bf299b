#include <iostream>

#include "publish.h"

int main(int argc, char** argv) { return publish::publishMain(argc, argv, std::cout, std::cerr); }
