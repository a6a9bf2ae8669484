#include "NetFixture.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new net_test::NetEnvironment);
    return RUN_ALL_TESTS();
}
