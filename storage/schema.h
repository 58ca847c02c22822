// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class SqlRunner;

// The layout of task.db and the steps that bring a file to it. The file's PRAGMA user_version says which
// steps it has had; 0 is every file written before the layout was numbered.
namespace Schema {
// The newest layout this program knows.
constexpr int Version = 3;

// Brings a writable file up to Version step by step, each step with its version in one transaction. A file
// of a newer layout is refused (the runner is closed and says why) and nothing is written to it; a
// read-only file is only checked. False when the file was refused.
bool prepare(SqlRunner& runner, bool writable);

// The indexes over the results table, which take long to build on a large file: prepare() builds those
// missing unless they are left for later (IndexBuild::Later), when buildIndexes() makes them.
enum class IndexBuild
{
    Now,
    Later
};
bool prepare(SqlRunner& runner, bool writable, IndexBuild indexes);
// Whether an index over the results table is missing.
bool indexesMissing(SqlRunner& runner);
// Builds the missing indexes over the results table, each in a transaction of its own; false when one could not
// be made (the runner's lastError() says why).
bool buildIndexes(SqlRunner& runner);
} // namespace Schema
