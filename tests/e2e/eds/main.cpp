// Runs the end-to-end cases of the EDS backend, each against a private EDS of
// its own: a process started without one starts itself again under
// scripts/private-eds.sh, which also fails the case if the EDS services or
// anything else the case started outlive it. Listing the cases needs no EDS.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
  if (!listing && std::getenv("PRIVATE_EDS_DIR") == nullptr) {
    std::vector<char*> again{const_cast<char*>("bash"), const_cast<char*>(PIMBRIDGE_PRIVATE_EDS)};
    for (int i = 0; i < argc; ++i) again.push_back(argv[i]);
    again.push_back(nullptr);
    ::execvp("bash", again.data());
    return 127;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
