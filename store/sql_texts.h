#pragma once

// Every SQL statement that the forms issue, exactly as they issue it. Parameters are set by position.
namespace SqlText {

inline constexpr const char *QueryByName = "SELECT * FROM JHB WHERE JHB.Name=:name";
inline constexpr const char *SumByName = "SELECT sum(ZongPrice) from JHB WHERE JHB.Name=:name ";
inline constexpr const char *QueryByDay = "SELECT * FROM JHB WHERE JHB.Sime=:me";
inline constexpr const char *SumByDay = "SELECT sum(ZongPrice) from JHB WHERE JHB.Sime=:ne";
inline constexpr const char *QueryByRange = "SELECT * FROM JHB WHERE JHB.Sime>=:me1 And JHB.Sime<=:me2";
inline constexpr const char *SumByRange = "SELECT sum(ZongPrice) from JHB WHERE JHB.Sime>=:me1 And JHB.Sime<=:me2";
inline constexpr const char *GroupByName =
    "SELECT Name ,count(*),sum(ZongPrice)from JHB WHERE JHB.Sime>=:me1 And JHB.Sime<=:me2 group by Name";
inline constexpr const char *SumOfSummary = "SELECT sum(ZongPrice) from huizong";

} // namespace SqlText
