#include "store/app_error.h"
#include "tools/commands.h"
#include "tools/ledger_copy.h"

int copyCommand(const QStringList &args)
{
    if (args.size() != 2)
        return 2;
    const LedgerCopy::Result result = LedgerCopy::copy(args[0], args[1]);
    if (result.created)
        out(QStringLiteral("目标中原来没有表，已先建好（与 vanterlo-db init 相同）"));
    out(QStringLiteral("已复制 %1 条进货记录和回收站中的 %2 条记录，条数已核对")
            .arg(result.records)
            .arg(result.deleted));
    out(QStringLiteral("汇总表 huizong 没有复制：它是每个人查询时生成的结果，在“查询统计”页统计汇总时重新生成"));
    return 0;
}
