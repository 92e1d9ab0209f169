// Databases made from several seed scripts, as the command line names them.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "Options.h"
#include "Store.h"

namespace {

using namespace tds;

TEST(Seeds, RunInTurnOnOneDatabaseAndAFailureNamesItsScript) {
    char dirName[] = "/tmp/tds-seed-test-XXXXXX";
    ASSERT_NE(mkdtemp(dirName), nullptr);
    const std::string dir = dirName;
    const std::string base = dir + "/base.sql", changes = dir + "/changes.sql",
                      broken = dir + "/broken.sql";
    std::ofstream(base) << "create table [sales].[T] (id int primary key, v nvarchar(10));\n"
                           "insert into [sales].[T] values (1, N'one');\n"
                           "insert into [sales].[T] values (2, N'two');\n";
    // Relies on the first script's table and on the schema it created.
    std::ofstream(changes) << "update sales.T set v = N'uno' where id = 1;\n"
                              "delete from sales.T where id = 2;\n";
    std::ofstream(broken) << "insert into NoSuchTable values (1);\n";

    Options options;
    std::string error;
    ASSERT_TRUE(parseOptions({"--user", "u:p", "--database", "plain=" + base, "--database",
                              "restored=" + base + "," + changes},
                             options, error))
        << error;
    std::unique_ptr<Catalog> catalog = Catalog::create(options.databases, error);
    ASSERT_NE(catalog, nullptr) << error;
    auto rows = [&](const char* database) {
        sqlite3* db = catalog->find(database)->open(error);
        EXPECT_NE(db, nullptr) << error;
        std::string out;
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "select id, v from \"sales.T\" order by id", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            out += std::to_string(sqlite3_column_int(stmt, 0)) + "=" +
                   reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)) + ";";
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return out;
    };
    EXPECT_EQ(rows("plain"), "1=one;2=two;");
    EXPECT_EQ(rows("restored"), "1=uno;");
    catalog.reset();

    Options failing;
    ASSERT_TRUE(
        parseOptions({"--user", "u:p", "--database", "d=" + base + "," + broken}, failing, error));
    EXPECT_EQ(Catalog::create(failing.databases, error), nullptr);
    EXPECT_EQ(error.rfind(broken + ": ", 0), 0u) << error;
    EXPECT_FALSE(parseOptions({"--user", "u:p", "--database", "d=" + base + ","}, failing, error));

    for (const std::string& f : {base, changes, broken}) ::unlink(f.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
