#pragma once

#include <QStringList>

// The commands of vanterlo-db that bring data in and take it out; each takes the arguments after its name and returns
// the tool's exit code.

// import-paradox [--keep-going] FROM_DIR [DIR]
int importParadoxCommand(const QStringList &args);

// export --from YYYY-MM-DD --to YYYY-MM-DD [--summary] [--format xlsx|csv] OUT [DIR]
int exportCommand(const QStringList &args);
