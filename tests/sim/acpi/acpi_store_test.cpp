// The simulated ACPI table store behind the two protocols: what the driver's
// appends rely on (copies on install, keys, list order, end of list).
#include "tests/errors/acpi_fixture.h"

#include <algorithm>

namespace {

using namespace errors_test;

TEST_F(AcpiPlatform, TableStoreServesBothProtocolsByIndexAndKey) {
  auto* table = static_cast<EFI_ACPI_TABLE_PROTOCOL*>(P().Find(kAcpiTableProtocolGuid));
  auto* sdt = static_cast<EFI_ACPI_SDT_PROTOCOL*>(P().Find(kAcpiSdtProtocolGuid));
  ASSERT_TRUE(table && sdt);

  Bytes a = sim::acpi::Header(0x41414141, 40, 1);
  a.resize(40, 0x11);
  Bytes b = sim::acpi::Header(0x42424242, 36, 1);
  UINTN keyA = 0, keyB = 0;
  ASSERT_EQ(table->InstallAcpiTable(table, a.data(), a.size(), &keyA), EFI_SUCCESS);
  ASSERT_EQ(table->InstallAcpiTable(table, b.data(), b.size(), &keyB), EFI_SUCCESS);
  EXPECT_NE(keyA, keyB);
  a[39] = 0x99;  // the store holds its own copy
  EXPECT_EQ(sim::acpi::TableBytes(P(), 0x41414141)[39], 0x11);

  EFI_ACPI_SDT_HEADER* t = nullptr;
  EFI_ACPI_TABLE_VERSION v = 0;
  UINTN key = 0;
  ASSERT_EQ(sdt->GetAcpiTable(1, &t, &v, &key), EFI_SUCCESS);
  EXPECT_EQ(t->Signature, 0x42424242u);
  EXPECT_EQ(key, keyB);
  EXPECT_EQ(sdt->GetAcpiTable(2, &t, &v, &key), EFI_NOT_FOUND);

  EXPECT_EQ(table->UninstallAcpiTable(table, keyA), EFI_SUCCESS);
  EXPECT_EQ(table->UninstallAcpiTable(table, keyA), EFI_NOT_FOUND);
  ASSERT_EQ(sdt->GetAcpiTable(0, &t, &v, &key), EFI_SUCCESS);
  EXPECT_EQ(key, keyB);

  // A length field that disagrees with the size is refused; injected failures
  // come back as given.
  EXPECT_EQ(table->InstallAcpiTable(table, b.data(), 40, &key), EFI_INVALID_PARAMETER);
  // (A rule's skip counts the calls made since the platform started.)
  auto made = [&](const char* call) {
    return static_cast<uint32_t>(std::count(P().calls.begin(), P().calls.end(), call));
  };
  P().Fail("GetAcpiTable", EFI_DEVICE_ERROR, made("GetAcpiTable"));
  EXPECT_EQ(sdt->GetAcpiTable(0, &t, &v, &key), EFI_DEVICE_ERROR);
  P().Fail("UninstallAcpiTable", EFI_ACCESS_DENIED, made("UninstallAcpiTable"));
  EXPECT_EQ(table->UninstallAcpiTable(table, keyB), EFI_ACCESS_DENIED);
  EXPECT_EQ(sim::acpi::Store(P()).tables.size(), 1u);
}

}  // namespace
