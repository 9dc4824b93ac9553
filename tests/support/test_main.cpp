#include <gtest/gtest.h>

#include "npcamvue/platform/platform.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!camvue::NetStartup())
        return 3;
    int result = RUN_ALL_TESTS();
    camvue::NetCleanup();
    return result;
}
