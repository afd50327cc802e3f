// Tests of the message store: the texts the component must serve, the
// category of each, the copy rule of the host's message command, and the
// reader's and table parser's handling of damaged input.
#include "resources/message_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "resources/message_table.h"

namespace qx::resources {
namespace {

// The engine status catalogue: code, short-text id, detail id (0 = none),
// short text as users must see it. The expected texts are UTF-16 literals
// converted by the compiler, independent of the packer's own decoder.
struct StatusText {
  int code;
  uint32_t short_id;
  uint32_t detail_id;
  const char16_t* short_text;
};
constexpr StatusText kStatusTexts[] = {
    {-59, 2877, 2955, u"ERREUR - La recherche Windows Task a échoué."},
    {-58, 2876, 2954, u"ERREUR - Windows GlobalLock a échoué."},
    {-57, 2875, 2953, u"ERREUR - Tag en cours d'utilisation."},
    {-56, 2874, 2952, u"ERREUR - Erreur de paramétrage inconnue."},
    {-55, 2873, 2951,
     u"ERREUR - Les paramètres utilisés pour définir le format de la clé sont "
     u"inconnus."},
    {-54, 2872, 2950, u"ERREUR - Nombre de tags invalide."},
    {-53, 2871, 2949,
     u"ERREUR - La taille des éléments dans la table des index est invalide."},
    {-52, 2870, 2948,
     u"ERREUR - Le nombre maximum d'éléments dans la table des index est "
     u"invalide."},
    {-51, 2869, 2947, u"ERREUR - Additionneur de décalage invalide."},
    {-50, 2868, 2946, u"ERREUR - Nom du tag invalide."},
    {-49, 2867, 2945,
     u"ERREUR - La taille de la page dans les blocs est invalide."},
    {-48, 2866, 2944, u"ERREUR - Identifiant du tag invalide."},
    {-47, 2865, 2943, u"ERREUR - Echec du flush."},
    {-46, 2864, 2942, u"ERREUR - Impossible d'ouvrir le fichier."},
    {-45, 2863, 2941, u"ERREUR - Certains fichiers sont ouverts."},
    {-44, 2862, 2940,
     u"ERREUR - Le nombre minimum de clés par page est incorrect."},
    {-43, 2861, 2939, u"ERREUR - La disquette a changé."},
    {-42, 2860, 2938, u"ERREUR - Le fichier n'est pas verrouillé."},
    {-41, 2859, 0, u"ERREUR - Code d'accès invalide."},
    {-40, 2858, 2937, u"ERREUR - Accès au fichier refusé."},
    {-39, 2857, 2936, u"ERREUR - Le chemin n'existe pas."},
    {-38, 2856, 2935, u"ERREUR - Dépassement de buffer."},
    {-37, 2855, 2934, u"ERREUR - Violation du blocage fichier."},
    {-36, 2854, 2933, u"ERREUR - Fichier ouvert en lecture seule."},
    {-35, 2853, 2932,
     u"ERREUR - Le flag MDX dans le fichier DBF est invalide."},
    {-34, 2852, 2931, u"ERREUR - Taille de la ligne du mémo invalide."},
    {-33, 2851, 2930, u"ERREUR - Données incorrectes."},
    {-32, 2850, 2929, u"ERREUR - Taille d'enregistrement invalide."},
    {-31, 2849, 2928, u"ERREUR - Type de rubrique invalide."},
    {-30, 2848, 2927, u"ERREUR - Paramètre de position décimale invalide."},
    {-29, 2847, 2926, u"ERREUR - Taille de rubrique invalide."},
    {-28, 2846, 2925, u"ERREUR - Nom de rubrique invalide."},
    {-27, 2845, 2924, u"ERREUR - Nombre de rubriques invalide."},
    {-26, 2844, 2923,
     u"ERREUR - Le nombre maximum de clés par page est incorrect."},
    {-25, 2843, 2922, u"ERREUR - Page racine invalide."},
    {-24, 2842, 2921, u"ERREUR - Taille d'élément incorrecte."},
    {-23, 2841, 2920, u"ERREUR - Taille de clé invalide."},
    {-22, 2840, 2919, u"ERREUR - Type de clé invalide."},
    {-21, 2839, 2918, u"ERREUR - Le paramètre adresse est NULL."},
    {-20, 2837, 2916, u"ERREUR - Dernière date invalide."},
    {-19, 2835, 2914, u"ERREUR - Taille de l'en-tête du fichier DBF invalide."},
    {-18, 2828, 2907, u"ERREUR - Version de dBase invalide."},
    {-17, 2826, 2905, u"ERREUR - Le fichier n'est pas un fichier mémo."},
    {-16, 2825, 2904, u"ERREUR - Heure invalide."},
    {-15, 2824, 2903, u"ERREUR - Date invalide."},
    {-14, 2823, 2902, u"ERREUR - Nom de fichier invalide."},
    {-13, 2822, 2901, u"ERREUR - Numéro de handle invalide."},
    {-12, 2821, 2900, u"ERREUR - Commande invalide."},
    {-11, 2820, 2899, u"ERREUR - Echec lors de la fermeture du fichier."},
    {-10, 2819, 2898, u"ERREUR - La page d'index n'a pas été chargée."},
    {-9, 2818, 2897, u"ERREUR - Aucune page d'index n'a été chargée."},
    {-8, 2817, 2896, u"ERREUR - Aucun identifiant disponible."},
    {-7, 2816, 2895, u"ERREUR - Expression de clé incorrecte."},
    {-6, 2815, 2894, u"ERREUR - Fichier corrompu."},
    {-5, 2814, 2893, u"ERREUR - Le fichier n'existe pas."},
    {-4, 2813, 2892,
     u"ERREUR - Impossible de repositionner le pointeur de fichier."},
    {-3, 2812, 2891, u"ERREUR - Erreur d'allocation mémoire."},
    {-2, 2811, 2890, u"ERREUR - Impossible de lire le fichier."},
    {-1, 2810, 2889, u"ERREUR - Impossible d'écrire dans le fichier."},
    {0, 2809, 0, u"code de retour de fonction sans erreur."},
    {1, 2808, 2888, u"WARNING - L'enregistrement lu est rayé."},
    {2, 2807, 2887, u"WARNING - Le fichier est vide."},
    {3, 2806, 2886, u"WARNING - Plus aucune clé."},
    {4, 2805, 2885, u"WARNING - La clé n'existe pas dans le fichier d'index."},
    {5, 2804, 2884, u"WARNING - Rubrique tronquée."},
    {6, 2803, 2883, u"WARNING - Rubrique numérique arrondie."},
    {7, 2802, 2882, u"WARNING - Taille du fichier incorrecte."},
    {8, 2801, 2881, u"WARNING - Fichier E/S sans buffer."},
    {9, 2800, 2880, u"WARNING - Allocation mémoire partielle."},
    {10, 2799, 2879, u"WARNING - Fonction non supportée."},
    {11, 2798, 2878, u"WARNING - L'objet existe déjà."},
    {12, 2805, 2885, u"WARNING - La clé n'existe pas dans le fichier d'index."},
};

TEST(MessageStoreTest, EngineStatusTexts) {
  for (const StatusText& s : kStatusTexts) {
    SCOPED_TRACE("status " + std::to_string(s.code));
    std::u16string text;
    int category = -1;
    ASSERT_TRUE(FindMessage(s.short_id, &text, &category));
    EXPECT_EQ(text, std::u16string(s.short_text));
    // A lock violation is reported to the host as a lock conflict.
    EXPECT_EQ(category, s.code == -37 ? 2 : 0);
    if (s.detail_id != 0) {
      ASSERT_TRUE(FindMessage(s.detail_id, &text, &category));
      EXPECT_GT(text.size(), 80u);
      EXPECT_EQ(category, s.code == -37 ? 2 : 0);
    }
  }
  // Statuses 4 and 12 share their texts.
  EXPECT_EQ(MessageText(2805),
            u"WARNING - La clé n'existe pas dans le fichier d'index.");

  // Detail texts that must be shown word for word.
  EXPECT_EQ(MessageText(2914),
            u"La taille de l'en-tête dBase est invalide. La taille de "
            u"l'en-tête doit être divisible par 32 avec un reste égal à 0 ou "
            u"à 1. Le fichier est inutilisable.");
  EXPECT_EQ(MessageText(2932),
            u"La valeur présente dans l'octet vingt-huit (28) du fichier de "
            u"données dBase IV n'est pas valide. Seules les valeurs zéro (0) "
            u"et un (1) sont actuellement supportées. Votre fichier est "
            u"peut-être endommagé.");
  EXPECT_EQ(MessageText(2940),
            u"La valeur spécifiée dans la rubrique 'Nombre minimum de clés par "
            u"page' est incorrecte. Cette erreur se produit lors de "
            u"l'ouverture des fichiers d'index Clipper. Votre fichier est "
            u"peut-être endommagé.");
  EXPECT_EQ(MessageText(2920),
            u"Taille maximale d'une clé de type texte : 100 caractères. Cette "
            u"erreur ne concerne pas les clés de type numérique ou date.");
  // The help text of -7 names the expression limit in these words.
  EXPECT_NE(MessageText(2895).find(
                u"La taille maximale est limitée à 220 caractères."),
            std::u16string::npos);
  EXPECT_EQ(MessageText(2881),
            u"Tentative de flush de données vers un fichier dont la mémoire "
            u"tampon a été désactivée à l'ouverture. Vérifiez le mode "
            u"d'ouverture du fichier de données ou d'index. Le fichier doit "
            u"être ouvert avec le paramètre KB_BUFFER (au lieu de KB_FLUSH). "
            u"Pour plus de détails, consultez 'kbd?openx'.");
}

TEST(MessageStoreTest, AccessLayerTextsAndCategories) {
  // An escaped line break in the table is a real LF in the text.
  EXPECT_EQ(MessageText(2622),
            u"Echec lors de l'ouverture du fichier '%1!s!'.\nCode d'erreur "
            u"xBase renvoyé : '<%2!d!>'");
  EXPECT_EQ(MessageText(28955), u"Il manque la parenthèse de gauche : <%1>");
  EXPECT_EQ(MessageText(28885),
            u"Erreur lors de la réindexation de la clé %1 du fichier %2.");
  EXPECT_EQ(MessageText(2658),
            u"Lecture d'un enregistrement depuis la base de données");

  EXPECT_EQ(MessageCategory(3038), 2);  // record locked by another program
  EXPECT_EQ(MessageCategory(3072), 3);  // duplicate key
  EXPECT_EQ(MessageCategory(3073), 0);  // file lock: handed as general
  EXPECT_EQ(MessageCategory(2658), 1);  // inserted text, never an error
  EXPECT_EQ(MessageCategory(2621), 0);
  EXPECT_EQ(MessageCategory(28954), 0);

  // Ids that are not messages: gaps between ranges, the detail id 34 of
  // the shared row, and the extremes.
  for (uint32_t id : {0u, 34u, 2827u, 2906u, 2957u, 28947u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(id);
    std::u16string text = u"unchanged";
    int category = 9;
    EXPECT_FALSE(FindMessage(id, &text, &category));
    EXPECT_EQ(text, u"unchanged");
    EXPECT_EQ(category, 9);
    EXPECT_EQ(MessageCategory(id), -1);
    EXPECT_TRUE(MessageText(id).empty());
    char16_t buffer[8] = {u'x'};
    EXPECT_EQ(CopyMessage(id, buffer, 8), 0);
  }
}

TEST(MessageStoreTest, CopyFollowsTheHostCutRule) {
  const std::u16string full = u"ERREUR - Fichier corrompu.";  // 26 units
  const uint32_t id = 2815;
  char16_t buffer[64];

  // Fits with its NUL: the whole text, the answer is its length.
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(CopyMessage(id, buffer, 64), 26);
  EXPECT_EQ(std::u16string(buffer), full);
  EXPECT_EQ(CopyMessage(id, buffer, 27), 26);
  EXPECT_EQ(std::u16string(buffer), full);

  // One unit short: cut to capacity - 1 units plus the NUL.
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(CopyMessage(id, buffer, 26), 25);
  EXPECT_EQ(std::u16string(buffer), full.substr(0, 25));
  EXPECT_EQ(buffer[26], u'#');  // nothing written past the capacity
  EXPECT_EQ(CopyMessage(id, buffer, 5), 4);
  EXPECT_EQ(std::u16string(buffer), u"ERRE");
  EXPECT_EQ(CopyMessage(id, buffer, 1), 0);
  EXPECT_EQ(buffer[0], u'\0');

  // No room at all, or no buffer: nothing written, answer 0.
  buffer[0] = u'#';
  EXPECT_EQ(CopyMessage(id, buffer, 0), 0);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(CopyMessage(id, nullptr, 64), 0);
}

TEST(MessageStoreTest, BuiltinBlockIsWellFormed) {
  const MessageStore store = MessageStore::Builtin();
  ASSERT_TRUE(store.valid());
  ASSERT_GT(store.size(), 200u);
  uint32_t previous_id = 0;
  for (uint32_t i = 0; i < store.size(); ++i) {
    MessageIndexEntry entry;
    ASSERT_TRUE(store.EntryAt(i, &entry)) << i;
    if (i > 0) {
      EXPECT_LT(previous_id, entry.id);
    }
    previous_id = entry.id;
    EXPECT_GT(entry.length, 0);
    EXPECT_EQ(entry.attribute & ~kMessageCategoryMask, 0);
    // Every entry is reachable by the binary search.
    EXPECT_EQ(store.Category(entry.id), entry.category());
  }
  EXPECT_FALSE(store.EntryAt(store.size(), nullptr));
}

// Packs a table given as text; fails the test on any error.
std::vector<uint8_t> PackTable(const std::string& table) {
  std::vector<MessageRecord> records;
  std::string error;
  EXPECT_TRUE(ParseMessageTable(table, "t.txt", &records, &error)) << error;
  std::vector<uint8_t> block;
  EXPECT_TRUE(PackMessageTable(records, &block, &error)) << error;
  return block;
}

TEST(MessageTableTest, ParseAndPackRoundTrip) {
  // Comments, blank lines, a CRLF line end, escapes, trailing blanks, a
  // character outside the BMP, ids out of order.
  const std::string table =
      "# comment\n"
      "\n"
      "7\t1\tDataSource : \r\n"
      "3\t0\ta\\tb\\nc\\\\d\\re\n"
      "4294967295\t3\tcl\xC3\xA9 \xF0\x9F\x98\x80\n"
      "5\t2\tx";  // no final LF
  const std::vector<uint8_t> block = PackTable(table);

  MessageBlockHeader header;
  ASSERT_TRUE(header.DecodeFrom(block.data(), block.size()));
  EXPECT_EQ(header.version, kMessageVersion);
  EXPECT_EQ(header.entry_count, 4u);
  EXPECT_EQ(std::memcmp(block.data(), "QXMS", 4), 0);
  // Header 12 bytes, 4 entries of 12 bytes, then 9 + 1 + 13 + 6 units.
  EXPECT_EQ(block.size(), 12u + 4 * 12 + 2 * (9 + 1 + 13 + 6));

  const MessageStore store(block.data(), block.size());
  ASSERT_TRUE(store.valid());
  EXPECT_EQ(store.Text(3), u"a\tb\nc\\d\re");
  EXPECT_EQ(store.Text(5), u"x");
  EXPECT_EQ(store.Text(7), u"DataSource : ");
  EXPECT_EQ(store.Text(0xFFFFFFFF), u"clé \U0001F600");
  EXPECT_EQ(store.Category(3), 0);
  EXPECT_EQ(store.Category(7), 1);
  EXPECT_EQ(store.Category(5), 2);
  EXPECT_EQ(store.Category(0xFFFFFFFF), 3);
  EXPECT_EQ(store.Category(4), -1);

  // The index is in id order whatever the table's order.
  MessageIndexEntry entry;
  ASSERT_TRUE(store.EntryAt(0, &entry));
  EXPECT_EQ(entry.id, 3u);
  ASSERT_TRUE(store.EntryAt(3, &entry));
  EXPECT_EQ(entry.id, 0xFFFFFFFFu);
  EXPECT_EQ(entry.length, 6);  // 4 + 2: the emoji takes two units

  // Entry codec round trip.
  uint8_t bytes[kMessageEntrySize];
  MessageIndexEntry in;
  in.id = 0x01020304;
  in.text_offset = 0xA0B0C0D0;
  in.length = 0xBEEF;
  in.attribute = 3;
  in.EncodeTo(bytes);
  EXPECT_EQ(bytes[0], 0x04);  // little-endian
  MessageIndexEntry out;
  out.DecodeFrom(bytes);
  EXPECT_EQ(out.id, in.id);
  EXPECT_EQ(out.text_offset, in.text_offset);
  EXPECT_EQ(out.length, in.length);
  EXPECT_EQ(out.category(), 3);
}

TEST(MessageTableTest, ParserRejectsBadTables) {
  struct Case {
    std::string table;
    std::string where;  // expected "file:line:" prefix
  };
  const Case cases[] = {
      {"1\t0\ta\n1\t0\tb\n", "t.txt:2:"},        // duplicate id
      {"# c\n1\t4\ta\n", "t.txt:2:"},            // category too large
      {"1\tx\ta\n", "t.txt:1:"},                 // category not a digit
      {"1\t00\ta\n", "t.txt:1:"},                // category two digits
      {"1 0 a\n", "t.txt:1:"},                   // no tabs
      {"1\t0\n", "t.txt:1:"},                    // one tab only
      {"1\t0\t\n", "t.txt:1:"},                  // empty text
      {"\t0\ta\n", "t.txt:1:"},                  // empty id
      {"4294967296\t0\ta\n", "t.txt:1:"},        // id overflow
      {"-1\t0\ta\n", "t.txt:1:"},                // signed id
      {"1\t0\ta\\x\n", "t.txt:1:"},              // unknown escape
      {"1\t0\ta\\\n", "t.txt:1:"},               // trailing backslash
      {"1\t0\ta\tb\n", "t.txt:1:"},              // raw tab in the text
      {"1\t0\ta\x01\n", "t.txt:1:"},             // raw control
      {"\n\n1\t0\t\xC3\x28\n", "t.txt:3:"},      // bad continuation
      {"1\t0\t\xC0\xAF\n", "t.txt:1:"},          // overlong
      {"1\t0\t\xE0\x80\xAF\n", "t.txt:1:"},      // overlong, 3 bytes
      {"1\t0\t\xED\xA0\x80\n", "t.txt:1:"},      // encoded surrogate
      {"1\t0\t\xF4\x90\x80\x80\n", "t.txt:1:"},  // above U+10FFFF
      {"1\t0\t\xE2\x82\n", "t.txt:1:"},          // truncated
      {"1\t0\t\x80\n", "t.txt:1:"},              // stray continuation
      {"\xEF\xBB\xBF# c\n", "t.txt:1:"},         // byte order mark
      {"1\t0\t" + std::string(65536, 'a') + "\n", "t.txt:1:"},  // too long
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table.substr(0, 40));
    std::vector<MessageRecord> records;
    std::string error;
    EXPECT_FALSE(ParseMessageTable(c.table, "t.txt", &records, &error));
    EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
  }

  // The longest text that fits the 16-bit length is accepted.
  std::vector<MessageRecord> records;
  std::string error;
  EXPECT_TRUE(ParseMessageTable("1\t0\t" + std::string(65535, 'a'), "t.txt",
                                &records, &error))
      << error;

  // Packing checks what it is handed directly, too.
  std::vector<uint8_t> block;
  records.assign(2, MessageRecord());
  records[0].id = records[1].id = 9;
  records[0].text = records[1].text = u"a";
  EXPECT_FALSE(PackMessageTable(records, &block, &error));
  records[1].id = 10;
  records[1].category = 4;
  EXPECT_FALSE(PackMessageTable(records, &block, &error));
  records[1].category = 0;
  records[1].text.clear();
  EXPECT_FALSE(PackMessageTable(records, &block, &error));
}

TEST(MessageStoreTest, DamagedBlocksReadAsAbsent) {
  const std::vector<uint8_t> good =
      PackTable("1\t0\tun\n2\t1\tdeux\n3\t2\ttrois\n");
  ASSERT_EQ(good.size(), 12u + 3 * 12 + 2 * (2 + 4 + 5));

  // Every truncation: the header or index cut makes the block unusable; a
  // cut in the texts loses exactly the texts that no longer fit.
  for (size_t size = 0; size < good.size(); ++size) {
    SCOPED_TRACE(size);
    // A copy of exactly size bytes, so a sanitizer sees any overread.
    std::vector<uint8_t> cut(good.begin(), good.begin() + size);
    const MessageStore store(cut.data(), cut.size());
    if (size < 48) {
      EXPECT_FALSE(store.valid());
      EXPECT_EQ(store.size(), 0u);
    }
    EXPECT_EQ(store.Text(1).empty(), size < 48 + 4);
    EXPECT_EQ(store.Text(2).empty(), size < 48 + 12);
    EXPECT_EQ(store.Text(3).empty(), true);
    char16_t buffer[8];
    EXPECT_EQ(store.Copy(3, buffer, 8), 0);
  }
  EXPECT_EQ(MessageStore(nullptr, 0).Category(1), -1);

  auto damaged = [&](size_t offset, uint8_t value) {
    std::vector<uint8_t> block = good;
    block[offset] = value;
    return block;
  };
  {  // another magic
    const std::vector<uint8_t> b = damaged(3, 'X');
    EXPECT_EQ(MessageStore(b.data(), b.size()).Category(1), -1);
  }
  {  // another version
    const std::vector<uint8_t> b = damaged(4, 2);
    EXPECT_FALSE(MessageStore(b.data(), b.size()).valid());
  }
  {  // an entry count beyond the block
    const std::vector<uint8_t> b = damaged(11, 0xFF);
    EXPECT_FALSE(MessageStore(b.data(), b.size()).valid());
  }
  {  // entry 2's text offset far outside: only that message is lost
    const std::vector<uint8_t> b = damaged(12 + 12 + 7, 0x80);
    const MessageStore store(b.data(), b.size());
    EXPECT_EQ(store.Text(1), u"un");
    EXPECT_TRUE(store.Text(2).empty());
    EXPECT_EQ(store.Category(2), -1);
    EXPECT_FALSE(store.EntryAt(1, nullptr));
    EXPECT_EQ(store.Text(3), u"trois");
  }
  {  // entry 3's length runs past the end
    const std::vector<uint8_t> b = damaged(12 + 24 + 9, 0xFF);
    EXPECT_TRUE(MessageStore(b.data(), b.size()).Text(3).empty());
  }
  {  // reserved attribute bits are ignored
    const std::vector<uint8_t> b = damaged(12 + 12 + 10, 0xFD);
    EXPECT_EQ(MessageStore(b.data(), b.size()).Category(2), 1);
  }
}

}  // namespace
}  // namespace qx::resources
