# Renders the manual page as plain ASCII text for readers without man: for the Windows zip.
# Called as cmake -DGROFF=... -DCOL=... -DMAN=page.1 -DTXT=page.txt -P manual-text.cmake
execute_process(
    COMMAND "${GROFF}" -man -Tascii -P-c -rLL=78n -rHY=0 "${MAN}"
    COMMAND "${COL}" -bx
    OUTPUT_VARIABLE text
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Rendering ${MAN} failed: ${result}")
endif()
# CRLF line ends, which every Windows editor shows as lines.
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TXT}" "${text}")
