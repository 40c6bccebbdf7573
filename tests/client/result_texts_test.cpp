// SPDX-License-Identifier: MIT
// The texts of the result codes and of the open results, against a table
// copied here from the description of the codes, independently of the
// library's own.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "qo3964_client.h"

namespace {

const std::map<int, std::pair<std::string, std::string>> expected_texts{
    {4, {"idle, bereit fuer neuen Auftrag", "task idle ( ready to be used)"}},
    {3, {"Poll-Daten ohne Fehler gelesen", "Poll - Data read without error"}},
    {2, {"Write ohne Fehler beendet", "Write terminated without error"}},
    {1, {"Fetch ohne Fehler beendet", "Fetch terminated without error"}},
    {0, {"Auftrag laeuft noch", "order is still in work"}},
    {-1, {"Fetch mit Fehler beendet (*)", "Fetch terminated with error (*)"}},
    {-2, {"Write mit Fehler beendet (*)", "Write terminated with error (*)"}},
    {-3, {"Poll-Daten fehlerhaft    (*)", "Poll-Data have errors    (*)"}},
    {-4, {"dwtyp falsch", "dwtyp wrong"}},
    {-5, {"dbnr falsch", "dbnr wrong"}},
    {-6, {"Start-Byte-Nr ausser Bereich", "start byte number out of range"}},
    {-7, {"Byte-Anzahl ausser Bereich", "count of bytes out of range"}},
    {-8, {"Start-Byte + Anzahl ueberschreiten max. DB-Laenge", "start byte + count exeed max. length of DB(DX)"}},
    {-9, {"kmbit falsch", "kmbit wrong"}},
    {-10, {"cpu-nr falsch", "cpu-nr wrong"}},
    {-11, {"Datenbereich auf server zu klein", "task block (server sided) is too small for this request"}},
    {-12, {"falsche Auftragsnummer", "task block number (handle) is wrong"}},
    {-13, {"Auftragbuffer nicht mehr zugeteilt zu aktueller PID", "task block has been released by the server"}},
    {-14, {"Auftragsnummer nicht geoeffnet", "task block (handle) has not been opened"}},
    {-15, {"Auftrag wurde fuer write angestossen, Fetch nicht aktiv", "task was started for a write task, fetch is inactive"}},
    {-16, {"falsche Auftragsnummer auf client-Seite", "task block (handle) on client side is wrong"}},
    {-17, {"falsche Schrittnummer: Bearbeitung asynchron", "invalid step number: processing is asynchronous"}},
    {-18, {"ungueltige Auftragsart ( kein Fetch/Write/Poll)", "invalid order code ( no Fetch/Write/Poll)"}},
    {-19, {"Pollzeit ausserhalb zulaessigem Bereich", "polltime out of range"}},
    {-20, {"alle client-seitigen Autragsnummern belegt", "all client sided numbers are allocated ( 0..9 )"}},
    {-21, {"Anmeldung: keine Auftragsnummmer frei", "no more free handles available"}},
    {-22, {"Anmeldung: kein Datenbereich der gewuenschten Groesse verfuegbar", "requested data range is too big, or all data buffers are allocated"}},
    {-23, {"Datenbaustein existiert nicht oder nicht zugreifbar", "requested data block not existing or not accessible"}},
    {-24, {"ungeradzahlige Byte-Adressen nur bei S7-Kommunikation erlaubt", "odd byte addresses only allowed by s7 communication"}},
    {-25, {"ungeradzahlige Byte-Laengen nur bei S7-Kommunikation erlaubt", "odd byte length only allowed by s7 communication"}},
    {-26, {"Auftrag bereits aktiv", "job already running"}},
    {-31, {"IP-Kopplung: Ziel-AG nicht definiert", "IP-link: destination plc not defined"}},
    {-32, {"IP-Kopplung: keine Verbindung zum AG", "IP-link: no connection to plc"}},
    {-35, {"IP-Kopplung: Timeout beim Senden", "IP-link: Timeout while writing to the plc"}},
    {-36, {"IP-Kopplung: Timeout beim Empfang Reaktionstelegramm", "IP-link: Timeout while receiving the REATEL reaction telegram"}},
    {-37, {"IP-Kopplung: Reaktionstelegramm Header falsch (assynchron)", "IP-link: wrong header in the reaction telegram: asynchronous"}},
    {-38, {"IP-Kopplung: Fehlermeldung vom AG", "IP-link: error message form plc"}},
    {-39, {"IP-Kopplung: Angeforderte Daten nicht komplett (RFC1006-Fehler)", "IP-link  requested data not complete (internal error of RFC1006)"}},
    {-40, {"IP-Kopplung: Timeout beim Empfang Daten", "Timeout while receiving data from the plc"}},
    {-41, {"IP-Kopplung: RFC1006-Fehler bei CONNECTION REQUEST", "IP-link error on RFC1006 while CONNECTION REQUEST"}},
    {-42, {"IP-Kopplung: S7-Kommunikationsfehler bei CONNECTION REQUEST", "IP-link error on S7-communication while CONNECTION REQUEST"}},
    {-43, {"IP-Kopplung: zugeteilter S7-Kommunikationsbereich zu klein", "IP-link error: S7-communication block too small"}},
    {-44, {"IP-Kopplung: unspezifizierter Fehler in S7-Kommunikation ", "IP-link error: undefined S7com error "}},
    {-45, {"IP-Kopplung: Formatfehler in RFC1006-PDU Reaktionstelegramm", "IP-link format error in RFC1006-PDU indication telegram"}},
    {-50, {"Ungueltige server-Nummer in einem qo512m-..Aufruf", "invalid server number while using a qo512m (= multiserver) call "}},
    {-51, {"qo7_open_shm(): rc-File nicht gefunden", "qo7_open_shm(): rc-File not found"}},
    {-52, {"qo7_open_shm(): Fehler bei Auswertung des rc-files", "qo7_open_shm(): error in rc-file"}},
    {-53, {"qo7_open_shm(): keine Verbindung zu shared memory moeglich", "qo7_open_shm(): cannot connect to the shared memory"}},
    {-55, {"TTY BREAK erkannt", "TTY BREAK detected"}},
    {-56, {"TTY Zeichenfehler(PARITY/FRAME)", "TTY PARITY or FRAME error"}},
    {-57, {"TTY Zeichenfehler(unspezifiziert)", "TTY error (unspecitied)"}},
    {-60, {"Protokollfehler in Kommunikationsschicht seriell", "protocol error in serial communication"}},
    {-61, {"Protokollkopffehler in Kommunikationsschicht seriell", "protocol error in header on serial communication"}},
    {-62, {"Potokollfehler: illegales Komando in Kommunikationsschicht seriell", "protocol error: illegal command in serial communication"}},
    {-63, {"CPU in Stop: Meldung von Kommunikationsschicht seriell", "CPU in Stop: message of serial communication"}},
    {-64, {"Ziel-Baustein blockiert durch Koppelmerker", "destination data block blocked by K-flag"}},
    {-65, {"Protokollfehler in Folgetelegramm Kommunikationsschicht seriell", "Protocol error in follow up tel. of serial communication"}},
    {-66, {"Timeout Empfang Kommunikationsschicht seriell", "Timeout on receiving in serial communication"}},
    {-67, {"Timeout Senden Kommunikationsschicht seriell", "Timeout on sending in serial communication"}},
    {-70, {"RESTRICTED_ACCESS: kein Leserecht fuer diesen DB", "RESTRICTED_ACCESS: no permission to read from this DB"}},
    {-71, {"RESTRICTED_ACCESS: kein Schreibrecht fuer diesen DB", "RESTRICTED_ACCESS: no permission to write to this DB"}},
    {-80, {"MPI-QO512-Adapter nicht erreichbar", "MPI-Adapter is not reachable ( qo512_server and option MPI2QO ON)"}},
    {-81, {"3964: Buffer-\xC3\x9C" "berlauf Empfang", "3964: buffer-overflow on receive"}},
    {-82, {"3964: BCC-Error Empfang", "3964: BCC-Error on receive"}},
    {-83, {"3964: Empfangsbuffer belegt,Telegramverlust ??", "3964: receive buffer occupied. loss of telegram ??"}},
    {-84, {"3964: Initialisierungskonflikt", "3964: Initialisation conflict"}},
    {-85, {"3964: Timeout ZVZ beim Empfang", "3964: timeout ZVZ on receiving"}},
    {-86, {"3964: Timeout beim BCC-Empfang", "3964: timeout on receiving BCC"}},
    {-98, {"keine shm-Verbindung zum qo*-server", "no connection to shm to qo*-server"}},
    {-99, {"timeout bei Client-Server-Kommunikation", "timeout at client-server communication"}},
    {-100, {"server shutdown", "server shutdown"}},
};

// Codes inside -100 to 4 without a text of their own.
std::set<int> default_codes()
{
    std::set<int> codes;
    const std::pair<int, int> ranges[] = {{-30, -27}, {-34, -33}, {-49, -46}, {-54, -54}, {-59, -58},
                                          {-69, -68}, {-79, -72}, {-97, -87}};
    for (const auto& [low, high] : ranges) {
        for (int code = low; code <= high; ++code) {
            codes.insert(code);
        }
    }
    return codes;
}

const std::map<int, std::string> expected_open_messages{
    {0, "\n +++ qo512_Verbindung: fehlerfrei\n"},
    {-1, "\n +++ qo512_clinit:rc-File nicht gefunden\n"},
    {-2, "\n +++ qo512_clinit:Fehler bei Auswertung des rc-files\n"},
    {-4, "\n +++ qo512_clinit:keine Verbindung zu shared memory moeglich\n"},
    {-5, "\n +++ qo512_clinit:keine Verbindung zu shared memory: Server vermutlich < V 4.02\n"},
    {-6, "\n +++ qo512_clinit: kein freier Auftragsblock\n"},
    {-7, "\n +++ qo512_clinit:kein Buffer ausreichender Groesse\n"},
    {-99, "\n +++ qo512_clinit:timeout beim Verbindungsaufbau\n"},
    {-100, "\n +++ qo512_clinit:qo512_server in shutdown\n"},
};

TEST(ResultTexts, EveryCodeHasItsGermanAndEnglishText)
{
    ASSERT_EQ(expected_texts.size(), 71u);
    for (const auto& [code, texts] : expected_texts) {
        EXPECT_EQ(std::string(qo3964_errortext(code)), texts.first) << code;
        EXPECT_EQ(std::string(qo3964_errortext_en(code)), texts.second) << code;
    }
}

TEST(ResultTexts, CodesWithoutTextGetTheDefault)
{
    const std::set<int> defaults = default_codes();
    for (int code = -100; code <= 4; ++code) {
        EXPECT_NE(expected_texts.count(code) != 0, defaults.count(code) != 0) << code;
    }
    std::set<int> others = defaults;
    others.insert({5, -101, -1601, 1000, INT_MIN, INT_MAX});
    for (int code : others) {
        EXPECT_STREQ(qo3964_errortext(code), "Unbekannte Fehlernummer") << code;
        EXPECT_STREQ(qo3964_errortext_en(code), "unknow error code") << code;
    }
}

TEST(ResultTexts, ExactCharactersOfTheOddTexts)
{
    EXPECT_STREQ(qo3964_errortext(4), "idle, bereit fuer neuen Auftrag");
    EXPECT_STREQ(qo3964_errortext_en(4), "task idle ( ready to be used)");
    EXPECT_STREQ(qo3964_errortext(-100), "server shutdown");
    EXPECT_STREQ(qo3964_errortext_en(-100), "server shutdown");
    // The one non-ASCII text: U umlaut as the UTF-8 bytes C3 9C.
    const char* overflow = qo3964_errortext(-81);
    ASSERT_EQ(std::strlen(overflow), 30u);
    EXPECT_EQ(static_cast<unsigned char>(overflow[13]), 0xC3);
    EXPECT_EQ(static_cast<unsigned char>(overflow[14]), 0x9C);
    // Trailing blanks belong to the texts.
    EXPECT_EQ(std::string(qo3964_errortext_en(-50)).back(), ' ');
    EXPECT_EQ(std::string(qo3964_errortext_en(-44)).back(), ' ');
    EXPECT_EQ(std::string(qo3964_errortext(-44)).back(), ' ');
    EXPECT_STREQ(qo3964_errortext(-3), "Poll-Daten fehlerhaft    (*)");
    EXPECT_STREQ(qo3964_errortext_en(-39), "IP-link  requested data not complete (internal error of RFC1006)");
}

TEST(ResultTexts, EachOperationReusesItsOwnBuffer)
{
    char* first = qo3964_errortext(-99);
    EXPECT_STREQ(first, "timeout bei Client-Server-Kommunikation");
    char* second = qo3964_errortext(2);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "Write ohne Fehler beendet");

    char* english = qo3964_errortext_en(-99);
    char* message = clinit_result(-99);
    EXPECT_EQ(english, qo3964_errortext_en(3));
    EXPECT_EQ(message, clinit_result(0));
    EXPECT_NE(english, first);
    EXPECT_NE(message, first);
    EXPECT_NE(message, english);
    // A German and an English text can be held side by side.
    EXPECT_STREQ(qo3964_errortext(-26), "Auftrag bereits aktiv");
    EXPECT_STREQ(qo3964_errortext_en(-26), "job already running");
    EXPECT_STREQ(first, "Auftrag bereits aktiv");
    EXPECT_STREQ(english, "job already running");
}

TEST(OpenMessages, EveryMessageOfTheTable)
{
    for (const auto& [code, message] : expected_open_messages) {
        EXPECT_EQ(std::string(clinit_result(code)), message) << code;
    }
}

TEST(OpenMessages, OtherCodesNameTheirNumber)
{
    for (int code : {-3, 1, 4, -8, -50, -51, -52, -53, -98, -101, INT_MIN, INT_MAX}) {
        EXPECT_EQ(std::string(clinit_result(code)),
                  "\n +++ qo512_clinit: Fehlernummer " + std::to_string(code) + " nicht bekannt\n")
            << code;
    }
}

}  // namespace
