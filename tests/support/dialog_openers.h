// Openers for the small settings dialogs in tests: plain row lists standing
// for the account list or the entry list of the window that opens a dialog.
#pragma once

#include <string>
#include <vector>

#include "settings/modal_dialogs.h"

namespace iw::test {

struct AccountRow {
    std::u16string user, address;
    friend bool operator==(const AccountRow&, const AccountRow&) = default;
};

class FakeAccountRows : public settings::AccountRowsOpener {
public:
    std::vector<AccountRow> rows;
    int selected = -1;

    int selectedRow() const override { return selected; }
    std::u16string rowAddress(int row) const override { return rows.at(static_cast<std::size_t>(row)).address; }
    void setRowAddress(int row, const std::u16string& address) override {
        rows.at(static_cast<std::size_t>(row)).address = address;
    }
    void addRow(const std::u16string& user, const std::u16string& address) override {
        rows.push_back({user, address});
    }
};

class FakeEntryRows : public settings::EntryRowsOpener {
public:
    std::vector<std::u16string> rows;
    int selected = -1;

    int rowCount() const override { return static_cast<int>(rows.size()); }
    int selectedRow() const override { return selected; }
    std::u16string rowText(int row) const override { return rows.at(static_cast<std::size_t>(row)); }
    void setRowText(int row, const std::u16string& text) override { rows.at(static_cast<std::size_t>(row)) = text; }
    void addRow(const std::u16string& text) override { rows.push_back(text); }
};

}  // namespace iw::test
