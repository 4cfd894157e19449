#pragma once
// Every text the program shows the player, in one place: Turkish, UTF-8.

namespace texts {

inline constexpr char window_title[] = "Zarvik";
inline constexpr char token_button[] = "Token Girin";
inline constexpr char send_button[] = "Replay Gönderin";
inline constexpr char token_prompt[] = "Token Girin: ";

inline constexpr char error_title[] = "Hata";
inline constexpr char saved_title[] = "Kaydedildi";

inline constexpr char no_replay_folder[] = "Pim replay klasörünü bulamıyor!!!";
inline constexpr char no_game_executable[] = "Pim th10.exe'yı bulayımıyor!!!";
inline constexpr char token_required[] = "Pim Token Talep Ediyor!";
inline constexpr char token_saved[] = "Pim Tokeninizi Başarıyla Kaydetti!";
inline constexpr char token_not_saved[] = "Pim Tokeninizi Kaydedemedi!";
inline constexpr char no_saved_token[] = "Pim Kayıtlı Token Bulamadı!";
inline constexpr char missing_ca[] = "Kayıp CA";

// A protection that could not be set up at start: the program does not start
// without it.
inline constexpr char dll_folders_not_limited[] =
    "Zarvik güvenle başlatılamadı: kütüphanelerin yalnızca Zarvik'in kendi klasöründen ve "
    "Windows'un System32 klasöründen yüklenmesi sağlanamadı.";
inline constexpr char openssl_config_not_ignored[] =
    "Zarvik güvenle başlatılamadı: OpenSSL'in bir ayar dosyası okuması engellenemedi.";

// A replay that could not be sent: this lead, one of the reasons below, and
// the transfer library's code as "(curl N)", which a player can quote when
// asking for help.
inline constexpr char send_failed[] = "Replay gönderilemedi: ";
inline constexpr char send_failed_no_network[] =
    "İnternet bağlantınız yok ya da skor sunucusunun adresi bulunamadı. "
    "Lütfen bağlantınızı kontrol edin.";
inline constexpr char send_failed_no_proxy[] =
    "Bilgisayarınızda ayarlı vekil sunucunun (proxy) adı bulunamadı. Lütfen proxy ayarınızı "
    "(https_proxy, ALL_PROXY) kontrol edin.";
inline constexpr char send_failed_no_connection[] =
    "Skor sunucusuna bağlanılamadı. Lütfen biraz sonra yeniden deneyin.";
inline constexpr char send_failed_timed_out[] =
    "Skor sunucusu zamanında yanıt vermedi. Lütfen biraz sonra yeniden deneyin.";
inline constexpr char send_failed_certificate[] =
    "Skor sunucusunun güvenlik sertifikası doğrulanamadı; tokeniniz gönderilmedi.";
inline constexpr char send_failed_secure_connection[] =
    "Skor sunucusuyla güvenli bağlantı kurulamadı.";
inline constexpr char send_failed_too_many_redirects[] =
    "Skor sunucusu isteği çok fazla kez başka bir adrese yönlendirdi.";
inline constexpr char send_failed_other_origin[] =
    "Skor sunucusu replayi başka bir adrese yönlendirdi; Zarvik tokeninizi korumak için bu "
    "yönlendirmeyi izlemedi.";
inline constexpr char send_failed_bad_redirect[] =
    "Skor sunucusu replayi geçersiz bir adrese yönlendirdi.";
inline constexpr char send_failed_not_prepared[] =
    "Rapor gönderime hazırlanamadı; hiçbir şey gönderilmedi.";
inline constexpr char send_failed_other[] = "Beklenmeyen bir sorun oluştu.";

} // namespace texts
