#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a task.db of TASKS tasks and RESULTS results (spread evenly over the tasks) with sqlite3 directly,
# in the file format the program reads, without its indexes (the program adds them at its first start).
# Task addresses point at 127.0.0.1 on ports from PORT on (HOSTS of them), where nothing need answer.
# Usage: make_task_db.sh FILE TASKS RESULTS [PORT] [HOSTS]
set -eu
file=$1 tasks=$2 results=$3 port=${4:-9} hosts=${5:-1}
rm -f "$file" "$file-journal" "$file-wal"
today=$(date +%m/%d/%Y)
now=$(date +%Y-%m-%dT%H:%M:%S)
per=$(( results / (tasks > 0 ? tasks : 1) ))
sqlite3 "$file" <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, task_date TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, address TEXT);
CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date TEXT, taskid INTEGER, text TEXT, link TEXT, result_state INTEGER);
BEGIN;
WITH RECURSIVE n(x) AS (SELECT 0 WHERE $tasks > 0 UNION ALL SELECT x + 1 FROM n WHERE x + 1 < $tasks)
INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, address)
SELECT x, '$today', '$now', 'Task ' || x, 'item', 86400,
       'http://127.0.0.1:' || ($port + x % $hosts) || '/page' || x || '.html' FROM n;
WITH RECURSIVE n(x) AS (SELECT 0 WHERE $results > 0 UNION ALL SELECT x + 1 FROM n WHERE x + 1 < $results)
INSERT INTO results(result_date, taskid, text, link, result_state)
SELECT '$today', x / $per, 'item ' || x, 'http://127.0.0.1/r/' || x, x % 2 FROM n;
COMMIT;
SQL
