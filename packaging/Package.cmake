# The installed files beside the programs and libraries, and the Debian
# package (scripts/package.sh). Included from the top-level CMakeLists.txt,
# after LEDGER_PROGRAMS is known.

set(CHUNA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/chuna)
install(FILES ${CMAKE_SOURCE_DIR}/app/chuna.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/app/chuna.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/chuna.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CHUNA_DOC_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME chuna)

# Debian wants its changelog compressed reproducibly (gzip -9n).
set(CHUNA_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${CHUNA_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${CHUNA_CHANGELOG}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CHUNA_CHANGELOG})
install(FILES ${CHUNA_CHANGELOG} DESTINATION ${CHUNA_DOC_DIR})

# A manual page per program, written from the program's own --help (so it
# names exactly the options the program takes). Only the release build makes
# them: writing one runs the program.
option(LEDGER_MAN_PAGES "Write the programs' manual pages (runs each with --help)" OFF)
if(LEDGER_MAN_PAGES)
    set(CHUNA_MAN_chuna "出纳：银行对账单、现金和银行日记账、银行对账"
        "打开账套数据库，显示出纳的各个窗口：银行对账单、现金日记账、银行日记账、银行对账、系统管理、出纳初始化和结转下年。数据库是本机的 SQLite 文件或 PostgreSQL 服务器上的数据库。")
    set(CHUNA_MAN_chuna-import "把对账单或表格文件导入账套"
        "不打开窗口，把工行对账单文本文件、建行对账单工作簿，或按列对应导入 Excel 和逗号分隔文件的记录存入账套。整个文件或者全部存入，或者什么都不存；已经导入过的文件不再导入，除非加 --again。")
    set(CHUNA_MAN_chuna-reconcile "银行对账并输出余额调节表"
        "不打开窗口，对一个银行账户做银行对账（加 --auto 时先自动对账），输出截止日期的余额调节表。调节后余额相符时退出状态为 0，不相符时为 1，出错时为 2。")
    set(CHUNA_MAN_chuna-admin "账套数据库的建立、备份、恢复、授权和设置"
        "建立空的或演示的账套数据库，备份和恢复，复制到数据库服务器，给服务器角色授权，升级旧版本的数据库，以及在命令行管理账套、账户、基础资料、用户、期初数据和结转下年。")
    set(CHUNA_MAN_chuna-funds "资金日报表：各现金和银行账户的余额与收支"
        "不打开窗口，输出一个账套在某日或某段日期的资金日报表：每个现金和银行账户的上日余额、本日收入、本日支出、本日余额和记录数，现金小计、银行小计和合计；银行账户有对账单时并列对账单余额及差额。加 --csv 时以 CSV 格式输出。")
    set(pages)
    foreach(program IN LISTS LEDGER_PROGRAMS)
        get_target_property(name ${program} OUTPUT_NAME)
        if(NOT name)
            set(name ${program})
        endif()
        set(page ${CMAKE_BINARY_DIR}/packaging/man/${name}.1.gz)
        if(NOT DEFINED CHUNA_MAN_${program})
            message(FATAL_ERROR "no manual page text for ${program} in packaging/Package.cmake")
        endif()
        list(GET CHUNA_MAN_${program} 0 summary)
        list(GET CHUNA_MAN_${program} 1 description)
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E env CHUNA_VERSION=${PROJECT_VERSION} CHUNA_DATE=2026-12-09
                bash ${CMAKE_CURRENT_LIST_DIR}/man-page.sh $<TARGET_FILE:${program}> ${name}
                ${summary} ${description} ${page}
            DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/man-page.sh VERBATIM)
        list(APPEND pages ${page})
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chuna)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "chuna maintainers <maintainers@chuna.invalid>")
# The first line is the synopsis, the rest the extended description (each
# paragraph a line of its own; CPack indents them).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "cashier's journals, bank statements and bank reconciliation
A desktop program for an office's cashier (出纳). It keeps the cash and bank
journals and the bank's statements in report grids with running balances,
opening balance and total lines; filters, adds, changes and deletes rows and
opens a row's voucher; imports rows in bulk from ledger vouchers, from Excel
and comma-separated files through a column-mapping wizard, from ICBC
statement text files and CCB statement workbooks; and reconciles a bank
account against its statement, printing the balance reconciliation statement
with the bank's own balances checked.
.
An office sets up its own book sets, cash and bank accounts, users and
opening balances, and carries its books into the next year. The books live in
a local SQLite file or on a PostgreSQL server, with roles for cashiers,
readers and administrators and a consistent backup and restore.
.
The command-line programs chuna-import, chuna-reconcile and chuna-admin do
the same imports, reconciliations and administration without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${LEDGER_INSTALL_LIBDIR})
# The CJK font the forms are laid out for, and Qt's own dialogs in Chinese
# when their translations are there.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)
