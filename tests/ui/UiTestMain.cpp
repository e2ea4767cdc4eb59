#include "Application.h"

#include <gtest/gtest.h>

// The widgets need an application object; listing the tests must work without
// any display, so the application comes up only for a real run.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Netvane"));
    return RUN_ALL_TESTS();
}
