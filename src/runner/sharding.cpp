// Splitting the test cases of a run into parts (sharding.h).
#include "sharding.h"

#include <QRegularExpression>

#include <algorithm>
#include <numeric>

bool parseShard(const QString& text, Shard* shard, QString* error)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^\\s*(\\d{1,6})\\s*/\\s*(\\d{1,6})\\s*$")).match(text);
    const int index = match.hasMatch() ? match.captured(1).toInt() : 0;
    const int total = match.hasMatch() ? match.captured(2).toInt() : 0;
    if (total < 1 || index < 1 || index > total) {
        *error = QStringLiteral("--shard takes K/N, the K-th of N parts with K from 1 to N (as 2/3), not '%1'")
                     .arg(text);
        return false;
    }
    shard->index = index - 1;
    shard->total = total;
    return true;
}

namespace {

// A whole number >= minimum from a variable; false when it is anything else.
bool number(const QString& text, int minimum, int* value)
{
    bool ok = false;
    *value = text.trimmed().toInt(&ok);
    return ok && *value >= minimum;
}

} // namespace

ShardSource shardFromEnvironment(const QProcessEnvironment& environment, int shardCount, Shard* shard,
                                 QString* source, QString* error)
{
    struct Scheme {
        const char* index;
        const char* total; // null: the total comes from --shard-count
        int base;          // the index of the first part
    };
    static const Scheme schemes[] = {{"CI_NODE_INDEX", "CI_NODE_TOTAL", 1},
                                     {"BUILDKITE_PARALLEL_JOB", "BUILDKITE_PARALLEL_JOB_COUNT", 0},
                                     {"JOB_COMPLETION_INDEX", nullptr, 0}};
    for (const Scheme& scheme : schemes) {
        const QString indexName = QLatin1String(scheme.index);
        if (!environment.contains(indexName))
            continue;
        const QString indexText = environment.value(indexName);
        QString totalName, totalText;
        int total = 0;
        if (scheme.total) {
            totalName = QLatin1String(scheme.total);
            totalText = environment.value(totalName);
            if (!environment.contains(totalName) || !number(totalText, 1, &total)) {
                *error = QStringLiteral("%1 is set but %2 is %3; give the part with --shard K/N")
                             .arg(indexName, totalName,
                                  environment.contains(totalName) ? QStringLiteral("'%1'").arg(totalText)
                                                                  : QStringLiteral("not set"));
                return ShardSource::Invalid;
            }
            if (shardCount > 0 && shardCount != total) {
                *error = QStringLiteral("--shard-count %1 does not match %2=%3").arg(shardCount).arg(totalName, totalText);
                return ShardSource::Invalid;
            }
        } else if (shardCount > 0) {
            total = shardCount;
        } else {
            *error = QStringLiteral("%1 is set (a Kubernetes Indexed Job): give the number of parts, the Job's "
                                    "completions, with --shard-count N")
                         .arg(indexName);
            return ShardSource::Invalid;
        }
        int index = 0;
        if (!number(indexText, scheme.base, &index) || index - scheme.base >= total) {
            *error = QStringLiteral("%1 is '%2', which is no part of %3 (counted from %4)")
                         .arg(indexName, indexText)
                         .arg(total)
                         .arg(scheme.base);
            return ShardSource::Invalid;
        }
        shard->index = index - scheme.base;
        shard->total = total;
        *source = scheme.total ? QStringLiteral("%1=%2, %3=%4").arg(indexName, indexText.trimmed(), totalName, totalText.trimmed())
                               : QStringLiteral("%1=%2, --shard-count %3").arg(indexName, indexText.trimmed()).arg(total);
        return ShardSource::Found;
    }
    if (shardCount > 0) {
        *error = QStringLiteral("--shard-count goes with JOB_COMPLETION_INDEX (a Kubernetes Indexed Job), which is "
                                "not set; use --shard K/N elsewhere");
        return ShardSource::Invalid;
    }
    return ShardSource::NotSet;
}

QList<QList<int>> partition(const QList<double>& weights, int parts)
{
    QList<QList<int>> result;
    if (parts < 1)
        return result;
    for (int i = 0; i < parts; ++i)
        result.append(QList<int>());
    double known = 0;
    int knownCount = 0;
    for (double w : weights)
        if (w >= 0) {
            known += w;
            ++knownCount;
        }
    const double unknown = knownCount ? known / knownCount : 1.0;
    QVector<double> weight(weights.size());
    for (int i = 0; i < weights.size(); ++i)
        weight[i] = weights.at(i) >= 0 ? weights.at(i) : unknown;
    QVector<int> order(weights.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return weight[a] > weight[b]; });
    QVector<double> load(parts, 0.0);
    for (int item : order) {
        const int lightest = int(std::min_element(load.begin(), load.end()) - load.begin());
        load[lightest] += weight[item];
        result[lightest].append(item);
    }
    for (QList<int>& part : result)
        std::sort(part.begin(), part.end());
    return result;
}
