#pragma once

#include <QDate>
#include <QString>

class Database;

// Fills an empty purchase table with count realistic records: the catalogue's goods names with a skewed frequency
// (rice and vegetables often, fuel rarely), 25 to 55 purchases a day ending on lastDay, IDs from 10000 upward in date
// order, plausible prices and quantities and their product as the total. One transaction; the same seed gives the same
// table. Throws AppError when the table is not empty.
void generatePurchases(Database &db, qint64 count, const QDate &lastDay, unsigned seed = 2026);
