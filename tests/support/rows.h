#pragma once

#include <QTest>

namespace ostrel::testing {

// A data-driven test's rows as one column "row" of whole cases, each named by
// its `name`: add_rows(cases) in the _data slot, QFETCH(Case, row) in the test.
template <typename Case, std::size_t N>
void add_rows(const Case (&cases)[N]) {
    QTest::addColumn<Case>("row");
    for (const Case& c : cases) {
        QTest::newRow(c.name) << c;
    }
}

}  // namespace ostrel::testing
