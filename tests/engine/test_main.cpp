#include "MimeTypes.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    SetMimeTypesPath(CORVANTA_TEST_DATA "/mime.types");
    return RUN_ALL_TESTS();
}
