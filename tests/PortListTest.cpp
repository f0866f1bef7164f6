#include "CPortList.h"

#include <gtest/gtest.h>

using Names = std::vector<std::string>;

TEST(PortListTest, NewPortsTakeTheirPlaceReturnedOnesTheEndAndGoneOnesStayAway) {
    CPortList ports;
    ports.Update({"ttyS0", "", "ttyS2", "ttyS0"});
    ports.Take("ttyS0");
    ports.GiveBack("ttyS0");
    EXPECT_EQ(ports.Update({"ttyS0", "ttyS1", "ttyS2", "ttyS3"}), Names{});
    EXPECT_EQ(ports.Items(), (Names{"ttyS1", "ttyS2", "ttyS0", "ttyS3"}));
    ports.Take("ttyS1");
    ports.Take("ttyS3");
    EXPECT_EQ(ports.Update({"ttyS0", "ttyS2"}), (Names{"ttyS1", "ttyS3"}));
    ports.GiveBack("ttyS1");
    ports.Update({"ttyS0", "ttyS1", "ttyS2", "ttyS3"});
    EXPECT_EQ(ports.Items(), (Names{"ttyS1", "ttyS2", "ttyS0"})) << "ttyS3 is still monitored";
}
