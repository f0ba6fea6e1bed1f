// Splitting a run's test cases into parts that run as separate jobs (--shard K/N, or the index and
// total a CI's parallel jobs get in their environment), balanced by the durations of an earlier run
// when they are known.
#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>

struct Shard {
    int index = 0; // 0-based
    int total = 1;
};

// "K/N" with K from 1 to N. False with a message otherwise.
bool parseShard(const QString& text, Shard* shard, QString* error);

// The part a CI job runs, from its environment: GitLab's CI_NODE_INDEX (1-based) and CI_NODE_TOTAL,
// Buildkite's BUILDKITE_PARALLEL_JOB (0-based) and BUILDKITE_PARALLEL_JOB_COUNT, a Kubernetes Indexed
// Job's JOB_COMPLETION_INDEX (0-based) with the total from --shard-count (shardCount, 0 when not given).
// `source` names the variables used, for the line that says which part runs.
enum class ShardSource { NotSet, Found, Invalid };
ShardSource shardFromEnvironment(const QProcessEnvironment& environment, int shardCount, Shard* shard,
                                 QString* source, QString* error);

// Splits the items 0 .. weights.size()-1 into `parts` lists: longest first onto the least loaded part
// (the lower part on a tie), so no part carries more than the average load plus the longest item.
// A negative weight is unknown and counts as the average of the known ones (1 when none is known).
// Equal weights deal the items out in turn: item i goes to part i % parts. Each list is in ascending
// order. The result depends on nothing but the arguments, so every job computes the same split.
QList<QList<int>> partition(const QList<double>& weights, int parts);
