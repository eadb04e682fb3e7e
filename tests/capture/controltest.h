// What the control-channel tests check of every access: its fields against the record the
// master model made of it.
#pragma once

#include "capture/control/controldecoder.h"
#include "controlmodel.h"

#include <gtest/gtest.h>

// The fields of `got` that the script decides: kind, completeness and CRC, then the command's
// mask and bits, or the slave, address, data, sequence, CRC reading and reply lag.
inline void ExpectAccessAsScripted(const TRegisterAccess& got, const controlmodel::TExpected& want, int lag,
                                   TCtsCoverage coverage) {
    EXPECT_EQ(got.Kind, want.Kind);
    EXPECT_TRUE(got.Complete);
    EXPECT_TRUE(got.CrcOk);
    if (want.Kind == TAccessKind::akCommand) {
        EXPECT_EQ(got.SlaveMask, want.Mask);
        EXPECT_EQ(got.Command, want.Command);
        EXPECT_EQ(got.CtsCoverage, TCtsCoverage::ccUnknown);
        return;
    }
    EXPECT_EQ(got.Slave, want.Slave);
    EXPECT_EQ(got.Address, want.Address);
    ASSERT_TRUE(got.HasData);
    EXPECT_EQ(got.Data, want.Data);
    EXPECT_EQ(got.Sequential, want.Sequential);
    EXPECT_EQ(got.CtsCoverage, coverage);
    EXPECT_EQ(got.Lag, want.Kind == TAccessKind::akRead ? lag : -1);
}
