// The launcher's texts: one row per TextId, one column per language in the order of the
// language table (cz dk de en es fr it hu nl pl pt ro tr gr ru).
#include "ui/Localisation.h"

namespace Ui
{
constinit const std::string_view kTextTable[kTextCount][kLanguageCount] = {
    // Login
    {
        "Login", // cz
        "Brugernavn", // dk
        "Login", // de
        "Login", // en
        "Usuario", // es
        "Identifiant", // fr
        "Nome utente", // it
        "Felhasználónév", // hu
        "Gebruikersnaam", // nl
        "Login", // pl
        "Utilizador", // pt
        "Utilizator", // ro
        "Kullanıcı adı", // tr
        "Όνομα χρήστη", // gr
        "Логин", // ru
    },
    // Password
    {
        "Heslo", // cz
        "Adgangskode", // dk
        "Passwort", // de
        "Password", // en
        "Contraseña", // es
        "Mot de passe", // fr
        "Password", // it
        "Jelszó", // hu
        "Wachtwoord", // nl
        "Hasło", // pl
        "Palavra-passe", // pt
        "Parolă", // ro
        "Şifre", // tr
        "Κωδικός", // gr
        "Пароль", // ru
    },
    // SignIn
    {
        "Přihlásit", // cz
        "Log ind", // dk
        "Anmelden", // de
        "Sign In", // en
        "Iniciar sesión", // es
        "Se connecter", // fr
        "Accedi", // it
        "Bejelentkezés", // hu
        "Inloggen", // nl
        "Zaloguj", // pl
        "Iniciar sessão", // pt
        "Conectare", // ro
        "Giriş yap", // tr
        "Σύνδεση", // gr
        "Войти", // ru
    },
    // SignOut
    {
        "Odhlásit", // cz
        "Log ud", // dk
        "Abmelden", // de
        "Sign Out", // en
        "Cerrar sesión", // es
        "Se déconnecter", // fr
        "Esci", // it
        "Kijelentkezés", // hu
        "Uitloggen", // nl
        "Wyloguj", // pl
        "Terminar sessão", // pt
        "Deconectare", // ro
        "Çıkış yap", // tr
        "Αποσύνδεση", // gr
        "Выйти", // ru
    },
    // Play
    {
        "HRÁT", // cz
        "SPIL", // dk
        "SPIELEN", // de
        "PLAY", // en
        "JUGAR", // es
        "JOUER", // fr
        "GIOCA", // it
        "JÁTÉK", // hu
        "SPELEN", // nl
        "GRAJ", // pl
        "JOGAR", // pt
        "JOACĂ", // ro
        "OYNA", // tr
        "ΠΑΙΞΕ", // gr
        "ИГРАТЬ", // ru
    },
    // SignedInAs
    {
        "Konto: {}", // cz
        "Konto: {}", // dk
        "Account: {}", // de
        "Signed in as {}", // en
        "Cuenta: {}", // es
        "Compte : {}", // fr
        "Account: {}", // it
        "Fiók: {}", // hu
        "Account: {}", // nl
        "Konto: {}", // pl
        "Conta: {}", // pt
        "Cont: {}", // ro
        "Hesap: {}", // tr
        "Λογαριασμός: {}", // gr
        "Аккаунт: {}", // ru
    },
    // Minimise
    {
        "Minimalizovat", // cz
        "Minimer", // dk
        "Minimieren", // de
        "Minimise", // en
        "Minimizar", // es
        "Réduire", // fr
        "Riduci a icona", // it
        "Kis méret", // hu
        "Minimaliseren", // nl
        "Minimalizuj", // pl
        "Minimizar", // pt
        "Minimizează", // ro
        "Küçült", // tr
        "Ελαχιστοποίηση", // gr
        "Свернуть", // ru
    },
    // Close
    {
        "Zavřít", // cz
        "Luk", // dk
        "Schließen", // de
        "Close", // en
        "Cerrar", // es
        "Fermer", // fr
        "Chiudi", // it
        "Bezárás", // hu
        "Sluiten", // nl
        "Zamknij", // pl
        "Fechar", // pt
        "Închide", // ro
        "Kapat", // tr
        "Κλείσιμο", // gr
        "Закрыть", // ru
    },
    // CreateAccount
    {
        "Vytvořit konto", // cz
        "Opret konto", // dk
        "Account erstellen", // de
        "Create Account", // en
        "Crear cuenta", // es
        "Créer un compte", // fr
        "Crea account", // it
        "Fiók létrehozása", // hu
        "Account aanmaken", // nl
        "Utwórz konto", // pl
        "Criar conta", // pt
        "Creează cont", // ro
        "Hesap oluştur", // tr
        "Νέος λογαριασμός", // gr
        "Создать аккаунт", // ru
    },
    // ForgotPassword
    {
        "Zapomenuté heslo", // cz
        "Glemt adgangskode", // dk
        "Passwort vergessen", // de
        "Forgot Password", // en
        "¿Olvidaste la clave?", // es
        "Mot de passe oublié", // fr
        "Password dimenticata", // it
        "Elfelejtett jelszó", // hu
        "Wachtwoord vergeten", // nl
        "Nie pamiętam hasła", // pl
        "Esqueceu a senha?", // pt
        "Am uitat parola", // ro
        "Şifremi unuttum", // tr
        "Ξεχάσατε τον κωδικό;", // gr
        "Забыли пароль?", // ru
    },
    // Website
    {
        "Web", // cz
        "Hjemmeside", // dk
        "Website", // de
        "Website", // en
        "Sitio web", // es
        "Site web", // fr
        "Sito web", // it
        "Weboldal", // hu
        "Website", // nl
        "Strona WWW", // pl
        "Site", // pt
        "Site web", // ro
        "Web sitesi", // tr
        "Ιστότοπος", // gr
        "Сайт", // ru
    },
    // Discord
    {
        "Discord", // cz
        "Discord", // dk
        "Discord", // de
        "Discord", // en
        "Discord", // es
        "Discord", // fr
        "Discord", // it
        "Discord", // hu
        "Discord", // nl
        "Discord", // pl
        "Discord", // pt
        "Discord", // ro
        "Discord", // tr
        "Discord", // gr
        "Discord", // ru
    },
    // Support
    {
        "Podpora", // cz
        "Support", // dk
        "Support", // de
        "Support", // en
        "Soporte", // es
        "Support", // fr
        "Assistenza", // it
        "Támogatás", // hu
        "Support", // nl
        "Pomoc", // pl
        "Suporte", // pt
        "Asistență", // ro
        "Destek", // tr
        "Υποστήριξη", // gr
        "Поддержка", // ru
    },
    // EnterLogin
    {
        "Zadejte svůj login a heslo.", // cz
        "Indtast dit brugernavn og din adgangskode.", // dk
        "Gib deinen Login und dein Passwort ein.", // de
        "Enter your login and your password.", // en
        "Introduce tu usuario y tu contraseña.", // es
        "Saisissez votre identifiant et votre mot de passe.", // fr
        "Inserisci il tuo nome utente e la tua password.", // it
        "Add meg a felhasználóneved és a jelszavad.", // hu
        "Voer je gebruikersnaam en je wachtwoord in.", // nl
        "Wpisz swój login i hasło.", // pl
        "Introduza o seu utilizador e a sua palavra-passe.", // pt
        "Introdu utilizatorul și parola.", // ro
        "Kullanıcı adınızı ve şifrenizi girin.", // tr
        "Εισαγάγετε το όνομα χρήστη και τον κωδικό σας.", // gr
        "Введите логин и пароль.", // ru
    },
    // SigningIn
    {
        "Přihlašování...", // cz
        "Logger ind...", // dk
        "Anmeldung läuft...", // de
        "Signing in...", // en
        "Iniciando sesión...", // es
        "Connexion en cours...", // fr
        "Accesso in corso...", // it
        "Bejelentkezés...", // hu
        "Inloggen...", // nl
        "Logowanie...", // pl
        "A iniciar sessão...", // pt
        "Conectare...", // ro
        "Giriş yapılıyor...", // tr
        "Σύνδεση...", // gr
        "Вход...", // ru
    },
    // SigningOut
    {
        "Odhlašování...", // cz
        "Logger ud...", // dk
        "Abmeldung läuft...", // de
        "Signing out...", // en
        "Cerrando sesión...", // es
        "Déconnexion en cours...", // fr
        "Disconnessione in corso...", // it
        "Kijelentkezés...", // hu
        "Uitloggen...", // nl
        "Wylogowywanie...", // pl
        "A terminar sessão...", // pt
        "Deconectare...", // ro
        "Çıkış yapılıyor...", // tr
        "Αποσύνδεση...", // gr
        "Выход...", // ru
    },
    // CheckingSignIn
    {
        "Ověřování přihlášení...", // cz
        "Kontrollerer dit login...", // dk
        "Anmeldung wird geprüft...", // de
        "Checking your sign-in...", // en
        "Comprobando tu sesión...", // es
        "Vérification de votre connexion...", // fr
        "Verifica dell'accesso...", // it
        "Bejelentkezés ellenőrzése...", // hu
        "Je sessie controleren...", // nl
        "Sprawdzanie logowania...", // pl
        "A verificar a sua sessão...", // pt
        "Se verifică conectarea...", // ro
        "Girişiniz kontrol ediliyor...", // tr
        "Έλεγχος της σύνδεσής σας...", // gr
        "Проверка входа...", // ru
    },
    // GameOpening
    {
        "Hra se spouští...", // cz
        "Spillet starter...", // dk
        "Das Spiel wird gestartet...", // de
        "The game is opening...", // en
        "Abriendo el juego...", // es
        "Lancement du jeu...", // fr
        "Avvio del gioco...", // it
        "A játék indul...", // hu
        "Het spel wordt gestart...", // nl
        "Uruchamianie gry...", // pl
        "O jogo está a abrir...", // pt
        "Jocul se deschide...", // ro
        "Oyun açılıyor...", // tr
        "Το παιχνίδι ανοίγει...", // gr
        "Игра запускается...", // ru
    },
    // GameRunning
    {
        "Hra běží.", // cz
        "Spillet kører.", // dk
        "Das Spiel läuft.", // de
        "The game is running.", // en
        "El juego está en marcha.", // es
        "Le jeu est en cours d'exécution.", // fr
        "Il gioco è in esecuzione.", // it
        "A játék fut.", // hu
        "Het spel is actief.", // nl
        "Gra jest uruchomiona.", // pl
        "O jogo está em execução.", // pt
        "Jocul rulează.", // ro
        "Oyun çalışıyor.", // tr
        "Το παιχνίδι εκτελείται.", // gr
        "Игра запущена.", // ru
    },
    // WrongLogin
    {
        "Login nebo heslo je chybné.", // cz
        "Brugernavnet eller adgangskoden er forkert.", // dk
        "Login oder Passwort ist falsch.", // de
        "The login or the password is wrong.", // en
        "El usuario o la contraseña no son correctos.", // es
        "L'identifiant ou le mot de passe est incorrect.", // fr
        "Il nome utente o la password non sono corretti.", // it
        "Hibás a felhasználónév vagy a jelszó.", // hu
        "De gebruikersnaam of het wachtwoord is onjuist.", // nl
        "Nieprawidłowy login lub hasło.", // pl
        "O utilizador ou a palavra-passe estão incorretos.", // pt
        "Utilizatorul sau parola sunt greșite.", // ro
        "Kullanıcı adı veya şifre yanlış.", // tr
        "Το όνομα χρήστη ή ο κωδικός είναι λάθος.", // gr
        "Неверный логин или пароль.", // ru
    },
    // SignInEnded
    {
        "Vaše přihlášení vypršelo. Přihlaste se znovu.", // cz
        "Dit login er udløbet. Log ind igen.", // dk
        "Deine Anmeldung ist abgelaufen. Melde dich erneut an.", // de
        "Your sign-in has ended. Sign in again.", // en
        "Tu sesión ha caducado. Vuelve a iniciar sesión.", // es
        "Votre connexion a expiré. Connectez-vous à nouveau.", // fr
        "Il tuo accesso è scaduto. Accedi di nuovo.", // it
        "A bejelentkezésed lejárt. Jelentkezz be újra.", // hu
        "Je sessie is verlopen. Log opnieuw in.", // nl
        "Sesja logowania wygasła. Zaloguj się ponownie.", // pl
        "A sua sessão terminou. Inicie sessão novamente.", // pt
        "Conectarea ta a expirat. Conectează-te din nou.", // ro
        "Girişinizin süresi doldu. Tekrar giriş yapın.", // tr
        "Η σύνδεσή σας έληξε. Συνδεθείτε ξανά.", // gr
        "Сеанс входа истёк. Войдите снова.", // ru
    },
    // LoginRules
    {
        "Login má 2 až 30 písmen a číslic, heslo smí obsahovat jen znaky ASCII.", // cz
        "Et brugernavn er 2 til 30 bogstaver og cifre, og en adgangskode er ASCII.", // dk
        "Ein Login hat 2 bis 30 Buchstaben und Ziffern, ein Passwort nur ASCII-Zeichen.", // de
        "A login is 2 to 30 letters and digits, and a password is ASCII.", // en
        "Un usuario tiene de 2 a 30 letras y dígitos, y una contraseña solo caracteres ASCII.", // es
        "Un identifiant comporte 2 à 30 lettres et chiffres ; un mot de passe, uniquement de l'ASCII.", // fr
        "Un nome utente ha da 2 a 30 lettere e cifre, una password solo caratteri ASCII.", // it
        "A felhasználónév 2–30 betűből és számjegyből áll, a jelszó csak ASCII-karakterekből.", // hu
        "Een gebruikersnaam heeft 2 tot 30 letters en cijfers, een wachtwoord alleen ASCII-tekens.", // nl
        "Login ma od 2 do 30 liter i cyfr, a hasło składa się ze znaków ASCII.", // pl
        "Um utilizador tem de 2 a 30 letras e algarismos, e uma palavra-passe só caracteres ASCII.", // pt
        "Un utilizator are între 2 și 30 de litere și cifre, iar o parolă doar caractere ASCII.", // ro
        "Kullanıcı adı 2 ile 30 arası harf ve rakamdan, şifre ise ASCII karakterlerden oluşur.", // tr
        "Το όνομα χρήστη έχει 2 έως 30 γράμματα και ψηφία και ο κωδικός μόνο χαρακτήρες ASCII.", // gr
        "Логин: от 2 до 30 букв и цифр; пароль: только символы ASCII.", // ru
    },
    // TooManyAttempts
    {
        "Příliš mnoho pokusů. Zkuste to znovu za {} s.", // cz
        "For mange forsøg. Prøv igen om {} sekunder.", // dk
        "Zu viele Versuche. Versuche es in {} Sekunden erneut.", // de
        "Too many attempts. Try again in {} seconds.", // en
        "Demasiados intentos. Vuelve a intentarlo en {} segundos.", // es
        "Trop de tentatives. Réessayez dans {} secondes.", // fr
        "Troppi tentativi. Riprova tra {} secondi.", // it
        "Túl sok próbálkozás. Próbáld újra {} másodperc múlva.", // hu
        "Te veel pogingen. Probeer het over {} seconden opnieuw.", // nl
        "Zbyt wiele prób. Spróbuj ponownie za {} s.", // pl
        "Demasiadas tentativas. Tente novamente dentro de {} segundos.", // pt
        "Prea multe încercări. Încearcă din nou peste {} secunde.", // ro
        "Çok fazla deneme. {} saniye sonra tekrar deneyin.", // tr
        "Πάρα πολλές προσπάθειες. Δοκιμάστε ξανά σε {} δευτερόλεπτα.", // gr
        "Слишком много попыток. Повторите через {} с.", // ru
    },
    // ServersUnreachable
    {
        "Servery nejsou dostupné.\n{}", // cz
        "Serverne kan ikke nås.\n{}", // dk
        "Die Server sind nicht erreichbar.\n{}", // de
        "The servers cannot be reached.\n{}", // en
        "No se puede conectar con los servidores.\n{}", // es
        "Impossible de joindre les serveurs.\n{}", // fr
        "Impossibile raggiungere i server.\n{}", // it
        "A szerverek nem érhetők el.\n{}", // hu
        "De servers zijn niet bereikbaar.\n{}", // nl
        "Nie można połączyć się z serwerami.\n{}", // pl
        "Não é possível contactar os servidores.\n{}", // pt
        "Serverele nu pot fi contactate.\n{}", // ro
        "Sunuculara ulaşılamıyor.\n{}", // tr
        "Δεν είναι δυνατή η σύνδεση με τους διακομιστές.\n{}", // gr
        "Серверы недоступны.\n{}", // ru
    },
    // SignInToPlay
    {
        "Pro hraní se přihlaste.", // cz
        "Log ind for at spille.", // dk
        "Melde dich an, um zu spielen.", // de
        "Sign in to play.", // en
        "Inicia sesión para jugar.", // es
        "Connectez-vous pour jouer.", // fr
        "Accedi per giocare.", // it
        "Jelentkezz be a játékhoz.", // hu
        "Log in om te spelen.", // nl
        "Zaloguj się, aby grać.", // pl
        "Inicie sessão para jogar.", // pt
        "Conectează-te pentru a juca.", // ro
        "Oynamak için giriş yapın.", // tr
        "Συνδεθείτε για να παίξετε.", // gr
        "Войдите, чтобы играть.", // ru
    },
    // Banned
    {
        "Toto konto je zablokováno.", // cz
        "Denne konto er udelukket.", // dk
        "Dieser Account ist gesperrt.", // de
        "This account is banned.", // en
        "Esta cuenta está bloqueada.", // es
        "Ce compte est banni.", // fr
        "Questo account è bloccato.", // it
        "Ez a fiók ki van tiltva.", // hu
        "Dit account is geblokkeerd.", // nl
        "To konto jest zablokowane.", // pl
        "Esta conta está banida.", // pt
        "Acest cont este blocat.", // ro
        "Bu hesap yasaklı.", // tr
        "Αυτός ο λογαριασμός έχει αποκλειστεί.", // gr
        "Этот аккаунт заблокирован.", // ru
    },
    // BannedUntil
    {
        "Toto konto je zablokováno do {} {} UTC.", // cz
        "Denne konto er udelukket indtil {} {} UTC.", // dk
        "Dieser Account ist bis {} {} UTC gesperrt.", // de
        "This account is banned until {} {} UTC.", // en
        "Esta cuenta está bloqueada hasta el {} a las {} UTC.", // es
        "Ce compte est banni jusqu'au {} à {} UTC.", // fr
        "Questo account è bloccato fino al {} alle {} UTC.", // it
        "Ez a fiók {} {} UTC-ig ki van tiltva.", // hu
        "Dit account is geblokkeerd tot {} {} UTC.", // nl
        "To konto jest zablokowane do {} {} UTC.", // pl
        "Esta conta está banida até {} às {} UTC.", // pt
        "Acest cont este blocat până la {} {} UTC.", // ro
        "Bu hesap {} {} UTC tarihine kadar yasaklı.", // tr
        "Αυτός ο λογαριασμός έχει αποκλειστεί έως {} {} UTC.", // gr
        "Этот аккаунт заблокирован до {} {} UTC.", // ru
    },
    // AccountClosed
    {
        "Toto konto bylo zrušeno.", // cz
        "Denne konto er blevet lukket.", // dk
        "Dieser Account wurde geschlossen.", // de
        "This account has been closed.", // en
        "Esta cuenta ha sido cerrada.", // es
        "Ce compte a été fermé.", // fr
        "Questo account è stato chiuso.", // it
        "Ezt a fiókot megszüntették.", // hu
        "Dit account is opgeheven.", // nl
        "To konto zostało zamknięte.", // pl
        "Esta conta foi encerrada.", // pt
        "Acest cont a fost închis.", // ro
        "Bu hesap kapatıldı.", // tr
        "Αυτός ο λογαριασμός έχει κλείσει.", // gr
        "Этот аккаунт закрыт.", // ru
    },
    // EmailNotConfirmed
    {
        "E-mail tohoto konta ještě není potvrzen. Otevřete odkaz ve zprávě, kterou jsme vám poslali.", // cz
        "Denne kontos e-mail er ikke bekræftet endnu. Åbn linket i den mail, vi har sendt dig.", // dk
        "Die E-Mail-Adresse dieses Accounts ist noch nicht bestätigt. Öffne den Link in der E-Mail, die wir dir geschickt haben.", // de
        "This account's e-mail is not confirmed yet. Open the link in the letter we sent you.", // en
        "El correo de esta cuenta aún no está confirmado. Abre el enlace del mensaje que te enviamos.", // es
        "L'e-mail de ce compte n'est pas encore confirmé. Ouvrez le lien du message que nous vous avons envoyé.", // fr
        "L'e-mail di questo account non è ancora confermata. Apri il link nel messaggio che ti abbiamo inviato.", // it
        "A fiók e-mail-címe még nincs megerősítve. Nyisd meg a linket az általunk küldött levélben.", // hu
        "Het e-mailadres van dit account is nog niet bevestigd. Open de link in de e-mail die we je hebben gestuurd.", // nl
        "Adres e-mail tego konta nie został jeszcze potwierdzony. Otwórz link z wiadomości, którą wysłaliśmy.", // pl
        "O e-mail desta conta ainda não foi confirmado. Abra a ligação na mensagem que lhe enviámos.", // pt
        "E-mailul acestui cont nu este încă confirmat. Deschide linkul din mesajul pe care ți l-am trimis.", // ro
        "Bu hesabın e-postası henüz onaylanmadı. Size gönderdiğimiz e-postadaki bağlantıyı açın.", // tr
        "Το e-mail αυτού του λογαριασμού δεν έχει επιβεβαιωθεί ακόμη. Ανοίξτε τον σύνδεσμο στο μήνυμα που σας στείλαμε.", // gr
        "Эл. почта этого аккаунта ещё не подтверждена. Откройте ссылку в письме, которое мы вам отправили.", // ru
    },
    // SomethingWrong
    {
        "Něco se pokazilo: {}", // cz
        "Noget gik galt: {}", // dk
        "Etwas ist schiefgelaufen: {}", // de
        "Something went wrong: {}", // en
        "Algo ha salido mal: {}", // es
        "Une erreur s'est produite : {}", // fr
        "Qualcosa è andato storto: {}", // it
        "Hiba történt: {}", // hu
        "Er is iets misgegaan: {}", // nl
        "Coś poszło nie tak: {}", // pl
        "Algo correu mal: {}", // pt
        "Ceva nu a mers bine: {}", // ro
        "Bir şeyler ters gitti: {}", // tr
        "Κάτι πήγε στραβά: {}", // gr
        "Что-то пошло не так: {}", // ru
    },
    // GameDidNotStart
    {
        "Hru se nepodařilo spustit: {}", // cz
        "Spillet startede ikke: {}", // dk
        "Das Spiel ist nicht gestartet: {}", // de
        "The game did not start: {}", // en
        "El juego no se ha iniciado: {}", // es
        "Le jeu n'a pas démarré : {}", // fr
        "Il gioco non si è avviato: {}", // it
        "A játék nem indult el: {}", // hu
        "Het spel is niet gestart: {}", // nl
        "Gra się nie uruchomiła: {}", // pl
        "O jogo não foi iniciado: {}", // pt
        "Jocul nu a pornit: {}", // ro
        "Oyun başlatılamadı: {}", // tr
        "Το παιχνίδι δεν ξεκίνησε: {}", // gr
        "Игра не запустилась: {}", // ru
    },
    // FilesUnreadable
    {
        "Soubory hry nelze přečíst: {}", // cz
        "Spillets filer kan ikke læses: {}", // dk
        "Die Spieldateien können nicht gelesen werden: {}", // de
        "The game's files cannot be read: {}", // en
        "No se pueden leer los archivos del juego: {}", // es
        "Impossible de lire les fichiers du jeu : {}", // fr
        "Impossibile leggere i file del gioco: {}", // it
        "A játék fájljai nem olvashatók: {}", // hu
        "De spelbestanden kunnen niet worden gelezen: {}", // nl
        "Nie można odczytać plików gry: {}", // pl
        "Não é possível ler os ficheiros do jogo: {}", // pt
        "Fișierele jocului nu pot fi citite: {}", // ro
        "Oyun dosyaları okunamıyor: {}", // tr
        "Δεν είναι δυνατή η ανάγνωση των αρχείων του παιχνιδιού: {}", // gr
        "Не удаётся прочитать файлы игры: {}", // ru
    },
    // GraphicsFailed
    {
        "Komponenta Direct2D, DirectWrite nebo zpracování obrázků systému Windows se nespustila.", // cz
        "Windows' Direct2D, DirectWrite eller billedkomponent startede ikke.", // dk
        "Direct2D, DirectWrite oder die Bildverarbeitungskomponente von Windows wurde nicht gestartet.", // de
        "Windows' Direct2D, DirectWrite or imaging component did not start.", // en
        "No se ha iniciado Direct2D, DirectWrite o el componente de imágenes de Windows.", // es
        "Direct2D, DirectWrite ou le composant d'imagerie de Windows n'a pas démarré.", // fr
        "Direct2D, DirectWrite o il componente di imaging di Windows non si è avviato.", // it
        "A Windows Direct2D, DirectWrite vagy képkezelő összetevője nem indult el.", // hu
        "Direct2D, DirectWrite of het beeldverwerkingsonderdeel van Windows is niet gestart.", // nl
        "Nie uruchomił się składnik Direct2D, DirectWrite lub przetwarzania obrazów systemu Windows.", // pl
        "O Direct2D, o DirectWrite ou o componente de imagens do Windows não foi iniciado.", // pt
        "Direct2D, DirectWrite sau componenta de imagini din Windows nu a pornit.", // ro
        "Windows'un Direct2D, DirectWrite veya görüntüleme bileşeni başlatılamadı.", // tr
        "Το Direct2D, το DirectWrite ή το στοιχείο απεικόνισης των Windows δεν ξεκίνησε.", // gr
        "Не запустился Direct2D, DirectWrite или компонент обработки изображений Windows.", // ru
    },
    // ServersOnline
    {
        "Servery online", // cz
        "Servere online", // dk
        "Server online", // de
        "Servers online", // en
        "Servidores en línea", // es
        "Serveurs en ligne", // fr
        "Server online", // it
        "Szerverek online", // hu
        "Servers online", // nl
        "Serwery online", // pl
        "Servidores online", // pt
        "Servere online", // ro
        "Sunucular çevrimiçi", // tr
        "Διακομιστές σε σύνδεση", // gr
        "Серверы в сети", // ru
    },
    // ServersOffline
    {
        "Servery offline", // cz
        "Servere offline", // dk
        "Server offline", // de
        "Servers offline", // en
        "Servidores fuera de línea", // es
        "Serveurs hors ligne", // fr
        "Server offline", // it
        "Szerverek offline", // hu
        "Servers offline", // nl
        "Serwery offline", // pl
        "Servidores offline", // pt
        "Servere offline", // ro
        "Sunucular çevrimdışı", // tr
        "Διακομιστές εκτός σύνδεσης", // gr
        "Серверы не в сети", // ru
    },
    // NewVersion
    {
        "Vyšla nová verze hry. Pro hraní ji stáhněte.", // cz
        "En ny version af spillet er ude. Hent den for at spille.", // dk
        "Eine neue Version des Spiels ist erschienen. Lade sie herunter, um zu spielen.", // de
        "A new version of the game is out. Get it to play.", // en
        "Ha salido una nueva versión del juego. Descárgala para jugar.", // es
        "Une nouvelle version du jeu est sortie. Téléchargez-la pour jouer.", // fr
        "È uscita una nuova versione del gioco. Scaricala per giocare.", // it
        "Megjelent a játék új verziója. Töltsd le a játékhoz.", // hu
        "Er is een nieuwe versie van het spel. Download deze om te spelen.", // nl
        "Dostępna jest nowa wersja gry. Pobierz ją, aby grać.", // pl
        "Saiu uma nova versão do jogo. Transfira-a para jogar.", // pt
        "A apărut o versiune nouă a jocului. Descarcă versiunea nouă pentru a juca.", // ro
        "Oyunun yeni bir sürümü çıktı. Oynamak için indirin.", // tr
        "Κυκλοφόρησε νέα έκδοση του παιχνιδιού. Κατεβάστε την για να παίξετε.", // gr
        "Вышла новая версия игры. Загрузите её, чтобы играть.", // ru
    },
    // Language
    {
        "Jazyk", // cz
        "Sprog", // dk
        "Sprache", // de
        "Language", // en
        "Idioma", // es
        "Langue", // fr
        "Lingua", // it
        "Nyelv", // hu
        "Taal", // nl
        "Język", // pl
        "Idioma", // pt
        "Limbă", // ro
        "Dil", // tr
        "Γλώσσα", // gr
        "Язык", // ru
    },
    // LanguageNotSaved
    {
        "Jazyk se nepodařilo uložit.", // cz
        "Sproget kunne ikke gemmes.", // dk
        "Die Sprache konnte nicht gespeichert werden.", // de
        "The language could not be saved.", // en
        "No se ha podido guardar el idioma.", // es
        "La langue n'a pas pu être enregistrée.", // fr
        "Impossibile salvare la lingua.", // it
        "A nyelvet nem sikerült menteni.", // hu
        "De taal kon niet worden opgeslagen.", // nl
        "Nie udało się zapisać języka.", // pl
        "Não foi possível guardar o idioma.", // pt
        "Limba nu a putut fi salvată.", // ro
        "Dil kaydedilemedi.", // tr
        "Δεν ήταν δυνατή η αποθήκευση της γλώσσας.", // gr
        "Не удалось сохранить язык.", // ru
    },
    // NetworkIntercepting
    {
        "Tato síť možná zachytává spojení. Zkuste jinou síť.\n{}", // cz
        "Dette netværk opsnapper måske forbindelsen. Prøv et andet netværk.\n{}", // dk
        "Dieses Netzwerk fängt möglicherweise die Verbindung ab. Versuche ein anderes Netzwerk.\n{}", // de
        "This network may be intercepting the connection. Try another network.\n{}", // en
        "Esta red podría estar interceptando la conexión. Prueba con otra red.\n{}", // es
        "Ce réseau intercepte peut-être la connexion. Essayez un autre réseau.\n{}", // fr
        "Questa rete potrebbe intercettare la connessione. Prova un'altra rete.\n{}", // it
        "Lehet, hogy ez a hálózat lehallgatja a kapcsolatot. Próbálj másik hálózatot.\n{}", // hu
        "Dit netwerk onderschept mogelijk de verbinding. Probeer een ander netwerk.\n{}", // nl
        "Ta sieć może przechwytywać połączenie. Spróbuj innej sieci.\n{}", // pl
        "Esta rede pode estar a intercetar a ligação. Experimente outra rede.\n{}", // pt
        "Această rețea ar putea intercepta conexiunea. Încearcă altă rețea.\n{}", // ro
        "Bu ağ bağlantıya müdahale ediyor olabilir. Başka bir ağ deneyin.\n{}", // tr
        "Αυτό το δίκτυο ίσως υποκλέπτει τη σύνδεση. Δοκιμάστε άλλο δίκτυο.\n{}", // gr
        "Возможно, эта сеть перехватывает соединение. Попробуйте другую сеть.\n{}", // ru
    },
    // ClockWrong
    {
        "Datum nebo čas tohoto počítače možná nejsou správně. Zkontrolujte je a zkuste to znovu.\n{}", // cz
        "Denne pc's dato eller klokkeslæt er måske forkert. Tjek det, og prøv igen.\n{}", // dk
        "Datum oder Uhrzeit dieses PCs ist möglicherweise falsch. Prüfe sie und versuche es erneut.\n{}", // de
        "This PC's date or time may be wrong. Check it and try again.\n{}", // en
        "La fecha o la hora de este PC podría ser incorrecta. Compruébala y vuelve a intentarlo.\n{}", // es
        "La date ou l'heure de ce PC est peut-être incorrecte. Vérifiez-la et réessayez.\n{}", // fr
        "La data o l'ora di questo PC potrebbe essere errata. Controllala e riprova.\n{}", // it
        "Lehet, hogy a gép dátuma vagy ideje hibás. Ellenőrizd, és próbáld újra.\n{}", // hu
        "De datum of tijd van deze pc is mogelijk onjuist. Controleer deze en probeer het opnieuw.\n{}", // nl
        "Data lub godzina na tym komputerze może być nieprawidłowa. Sprawdź ją i spróbuj ponownie.\n{}", // pl
        "A data ou a hora deste PC pode estar errada. Verifique-a e tente novamente.\n{}", // pt
        "Data sau ora acestui PC ar putea fi greșită. Verifică setările și încearcă din nou.\n{}", // ro
        "Bu bilgisayarın tarihi veya saati yanlış olabilir. Kontrol edip tekrar deneyin.\n{}", // tr
        "Η ημερομηνία ή η ώρα αυτού του υπολογιστή ίσως είναι λάθος. Ελέγξτε την και δοκιμάστε ξανά.\n{}", // gr
        "Возможно, дата или время на этом ПК неверны. Проверьте их и повторите попытку.\n{}", // ru
    },
    // Repair
    {
        "Opravit", // cz
        "Reparer", // dk
        "Reparieren", // de
        "Repair", // en
        "Reparar", // es
        "Réparer", // fr
        "Ripara", // it
        "Javítás", // hu
        "Repareren", // nl
        "Napraw", // pl
        "Reparar", // pt
        "Repară", // ro
        "Onar", // tr
        "Επιδιόρθωση", // gr
        "Восстановить", // ru
    },
    // Checking
    {
        "Kontrola souborů hry: {} %", // cz
        "Kontrollerer spillets filer: {} %", // dk
        "Spieldateien werden geprüft: {} %", // de
        "Checking the game's files: {}%", // en
        "Comprobando los archivos del juego: {} %", // es
        "Vérification des fichiers du jeu : {} %", // fr
        "Verifica dei file del gioco: {}%", // it
        "A játék fájljainak ellenőrzése: {}%", // hu
        "Spelbestanden controleren: {}%", // nl
        "Sprawdzanie plików gry: {}%", // pl
        "A verificar os ficheiros do jogo: {}%", // pt
        "Se verifică fișierele jocului: {}%", // ro
        "Oyun dosyaları kontrol ediliyor: %{}", // tr
        "Έλεγχος αρχείων του παιχνιδιού: {}%", // gr
        "Проверка файлов игры: {}%", // ru
    },
    // Updating
    {
        "Aktualizace hry: {} z {} MB", // cz
        "Opdaterer spillet: {} af {} MB", // dk
        "Spiel wird aktualisiert: {} von {} MB", // de
        "Updating the game: {} of {} MB", // en
        "Actualizando el juego: {} de {} MB", // es
        "Mise à jour du jeu : {} sur {} Mo", // fr
        "Aggiornamento del gioco: {} di {} MB", // it
        "A játék frissítése: {} / {} MB", // hu
        "Spel bijwerken: {} van {} MB", // nl
        "Aktualizowanie gry: {} z {} MB", // pl
        "A atualizar o jogo: {} de {} MB", // pt
        "Se actualizează jocul: {} din {} MB", // ro
        "Oyun güncelleniyor: {} / {} MB", // tr
        "Ενημέρωση του παιχνιδιού: {} από {} MB", // gr
        "Обновление игры: {} из {} МБ", // ru
    },
    // Repairing
    {
        "Oprava souborů hry: {} z {} MB", // cz
        "Reparerer spillets filer: {} af {} MB", // dk
        "Spieldateien werden repariert: {} von {} MB", // de
        "Repairing the game's files: {} of {} MB", // en
        "Reparando los archivos del juego: {} de {} MB", // es
        "Réparation des fichiers du jeu : {} sur {} Mo", // fr
        "Riparazione dei file del gioco: {} di {} MB", // it
        "A játék fájljainak javítása: {} / {} MB", // hu
        "Spelbestanden repareren: {} van {} MB", // nl
        "Naprawianie plików gry: {} z {} MB", // pl
        "A reparar os ficheiros do jogo: {} de {} MB", // pt
        "Se repară fișierele jocului: {} din {} MB", // ro
        "Oyun dosyaları onarılıyor: {} / {} MB", // tr
        "Επιδιόρθωση αρχείων του παιχνιδιού: {} από {} MB", // gr
        "Восстановление файлов игры: {} из {} МБ", // ru
    },
    // Updated
    {
        "Hra byla aktualizována na verzi {}.", // cz
        "Spillet er opdateret til {}.", // dk
        "Das Spiel wurde auf {} aktualisiert.", // de
        "The game is updated to {}.", // en
        "El juego se ha actualizado a {}.", // es
        "Le jeu a été mis à jour en version {}.", // fr
        "Il gioco è stato aggiornato alla versione {}.", // it
        "A játék frissítve: {}.", // hu
        "Het spel is bijgewerkt naar {}.", // nl
        "Gra została zaktualizowana do wersji {}.", // pl
        "O jogo foi atualizado para {}.", // pt
        "Jocul a fost actualizat la {}.", // ro
        "Oyun {} sürümüne güncellendi.", // tr
        "Το παιχνίδι ενημερώθηκε στην έκδοση {}.", // gr
        "Игра обновлена до версии {}.", // ru
    },
    // AllWhole
    {
        "Všechny soubory hry jsou v pořádku.", // cz
        "Alle spillets filer er intakte.", // dk
        "Alle Spieldateien sind intakt.", // de
        "Every file of the game is whole.", // en
        "Todos los archivos del juego están intactos.", // es
        "Tous les fichiers du jeu sont intacts.", // fr
        "Tutti i file del gioco sono integri.", // it
        "A játék minden fájlja ép.", // hu
        "Alle spelbestanden zijn intact.", // nl
        "Wszystkie pliki gry są nienaruszone.", // pl
        "Todos os ficheiros do jogo estão intactos.", // pt
        "Toate fișierele jocului sunt intacte.", // ro
        "Oyunun tüm dosyaları sağlam.", // tr
        "Όλα τα αρχεία του παιχνιδιού είναι ακέραια.", // gr
        "Все файлы игры целы.", // ru
    },
    // Repaired
    {
        "Poškozené soubory hry byly opraveny.", // cz
        "Spillets beskadigede filer er repareret.", // dk
        "Die beschädigten Spieldateien wurden repariert.", // de
        "The game's damaged files are repaired.", // en
        "Los archivos dañados del juego se han reparado.", // es
        "Les fichiers endommagés du jeu ont été réparés.", // fr
        "I file danneggiati del gioco sono stati riparati.", // it
        "A játék sérült fájljai javítva.", // hu
        "De beschadigde spelbestanden zijn gerepareerd.", // nl
        "Uszkodzone pliki gry zostały naprawione.", // pl
        "Os ficheiros danificados do jogo foram reparados.", // pt
        "Fișierele deteriorate ale jocului au fost reparate.", // ro
        "Oyunun hasarlı dosyaları onarıldı.", // tr
        "Τα κατεστραμμένα αρχεία του παιχνιδιού επιδιορθώθηκαν.", // gr
        "Повреждённые файлы игры восстановлены.", // ru
    },
    // UpdateStopped
    {
        "Aktualizace se zastavila. Příště bude pokračovat tam, kde skončila.\n{}", // cz
        "Opdateringen stoppede. Den fortsætter derfra næste gang.\n{}", // dk
        "Die Aktualisierung wurde angehalten. Sie wird beim nächsten Mal dort fortgesetzt.\n{}", // de
        "The update stopped. It goes on from there next time.\n{}", // en
        "La actualización se ha detenido. Continuará desde ahí la próxima vez.\n{}", // es
        "La mise à jour s'est arrêtée. Elle reprendra à ce point la prochaine fois.\n{}", // fr
        "L'aggiornamento si è interrotto. Riprenderà da lì la prossima volta.\n{}", // it
        "A frissítés leállt. Legközelebb onnan folytatódik.\n{}", // hu
        "De update is gestopt. Volgende keer gaat hij daar verder.\n{}", // nl
        "Aktualizacja została przerwana. Następnym razem będzie kontynuowana od tego miejsca.\n{}", // pl
        "A atualização parou. Continuará a partir daí na próxima vez.\n{}", // pt
        "Actualizarea s-a oprit. Data viitoare continuă de unde a rămas.\n{}", // ro
        "Güncelleme durdu. Bir dahaki sefere kaldığı yerden devam edecek.\n{}", // tr
        "Η ενημέρωση σταμάτησε. Την επόμενη φορά θα συνεχίσει από εκεί.\n{}", // gr
        "Обновление остановлено. В следующий раз оно продолжится с того же места.\n{}", // ru
    },
    // RepairStopped
    {
        "Oprava se zastavila. Pro pokračování stiskněte Opravit.\n{}", // cz
        "Reparationen stoppede. Tryk på Reparer for at fortsætte.\n{}", // dk
        "Die Reparatur wurde angehalten. Klicke auf Reparieren, um fortzufahren.\n{}", // de
        "The repair stopped. Press Repair to go on.\n{}", // en
        "La reparación se ha detenido. Pulsa Reparar para continuar.\n{}", // es
        "La réparation s'est arrêtée. Cliquez sur Réparer pour continuer.\n{}", // fr
        "La riparazione si è interrotta. Premi Ripara per continuare.\n{}", // it
        "A javítás leállt. A folytatáshoz nyomd meg a Javítás gombot.\n{}", // hu
        "Het repareren is gestopt. Klik op Repareren om verder te gaan.\n{}", // nl
        "Naprawa została przerwana. Naciśnij Napraw, aby kontynuować.\n{}", // pl
        "A reparação parou. Prima Reparar para continuar.\n{}", // pt
        "Repararea s-a oprit. Apasă Repară pentru a continua.\n{}", // ro
        "Onarım durdu. Devam etmek için Onar'a basın.\n{}", // tr
        "Η επιδιόρθωση σταμάτησε. Πατήστε Επιδιόρθωση για να συνεχίσει.\n{}", // gr
        "Восстановление остановлено. Нажмите «Восстановить», чтобы продолжить.\n{}", // ru
    },
    // NoSpace
    {
        "Nedostatek volného místa: je potřeba ještě {} MB.", // cz
        "Ikke nok ledig plads: der skal bruges {} MB mere.", // dk
        "Nicht genug freier Speicherplatz: Es werden noch {} MB benötigt.", // de
        "Not enough free space: {} MB more is needed.", // en
        "No hay suficiente espacio libre: se necesitan {} MB más.", // es
        "Espace libre insuffisant : il faut encore {} Mo.", // fr
        "Spazio libero insufficiente: servono altri {} MB.", // it
        "Nincs elég szabad hely: még {} MB szükséges.", // hu
        "Niet genoeg vrije ruimte: er is nog {} MB nodig.", // nl
        "Za mało wolnego miejsca: potrzeba jeszcze {} MB.", // pl
        "Espaço livre insuficiente: são necessários mais {} MB.", // pt
        "Spațiu liber insuficient: mai sunt necesari {} MB.", // ro
        "Yeterli boş alan yok: {} MB daha gerekiyor.", // tr
        "Δεν υπάρχει αρκετός ελεύθερος χώρος: χρειάζονται ακόμη {} MB.", // gr
        "Недостаточно свободного места: нужно ещё {} МБ.", // ru
    },
    // Installing
    {
        "Instalace hry: {} z {} MB", // cz
        "Installerer spillet: {} af {} MB", // dk
        "Spiel wird installiert: {} von {} MB", // de
        "Installing the game: {} of {} MB", // en
        "Instalando el juego: {} de {} MB", // es
        "Installation du jeu : {} sur {} Mo", // fr
        "Installazione del gioco: {} di {} MB", // it
        "A játék telepítése: {} / {} MB", // hu
        "Spel installeren: {} van {} MB", // nl
        "Instalowanie gry: {} z {} MB", // pl
        "A instalar o jogo: {} de {} MB", // pt
        "Se instalează jocul: {} din {} MB", // ro
        "Oyun yükleniyor: {} / {} MB", // tr
        "Εγκατάσταση του παιχνιδιού: {} από {} MB", // gr
        "Установка игры: {} из {} МБ", // ru
    },
    // InstallFailed
    {
        "Quillmere se nepodařilo nainstalovat.\n{}", // cz
        "Quillmere kunne ikke installeres.\n{}", // dk
        "Quillmere konnte nicht installiert werden.\n{}", // de
        "Quillmere could not be installed.\n{}", // en
        "No se ha podido instalar Quillmere.\n{}", // es
        "Quillmere n'a pas pu être installé.\n{}", // fr
        "Impossibile installare Quillmere.\n{}", // it
        "A Quillmere telepítése nem sikerült.\n{}", // hu
        "Quillmere kon niet worden geïnstalleerd.\n{}", // nl
        "Nie udało się zainstalować Quillmere.\n{}", // pl
        "Não foi possível instalar o Quillmere.\n{}", // pt
        "Quillmere nu a putut fi instalat.\n{}", // ro
        "Quillmere yüklenemedi.\n{}", // tr
        "Δεν ήταν δυνατή η εγκατάσταση του Quillmere.\n{}", // gr
        "Не удалось установить Quillmere.\n{}", // ru
    },
    // RemoveConfirm
    {
        "Odebrat Quillmere z tohoto počítače? Vaše konto a nastavení zůstanou zachovány.", // cz
        "Fjern Quillmere fra denne pc? Din konto og dine indstillinger bevares.", // dk
        "Quillmere von diesem PC entfernen? Dein Account und deine Einstellungen bleiben erhalten.", // de
        "Remove Quillmere from this PC? Your account and your settings are kept.", // en
        "¿Eliminar Quillmere de este PC? Se conservan tu cuenta y tus ajustes.", // es
        "Supprimer Quillmere de ce PC ? Votre compte et vos paramètres sont conservés.", // fr
        "Rimuovere Quillmere da questo PC? Il tuo account e le tue impostazioni vengono conservati.", // it
        "Eltávolítod a Quillmere-t erről a gépről? A fiókod és a beállításaid megmaradnak.", // hu
        "Quillmere van deze pc verwijderen? Je account en je instellingen blijven bewaard.", // nl
        "Usunąć Quillmere z tego komputera? Twoje konto i ustawienia zostaną zachowane.", // pl
        "Remover o Quillmere deste PC? A sua conta e as suas definições são mantidas.", // pt
        "Elimini Quillmere de pe acest PC? Contul și setările tale se păstrează.", // ro
        "Quillmere bu bilgisayardan kaldırılsın mı? Hesabınız ve ayarlarınız korunur.", // tr
        "Κατάργηση του Quillmere από αυτόν τον υπολογιστή; Ο λογαριασμός και οι ρυθμίσεις σας διατηρούνται.", // gr
        "Удалить Quillmere с этого ПК? Ваш аккаунт и настройки сохранятся.", // ru
    },
    // RemoveRunning
    {
        "Quillmere běží. Zavřete ho a pak ho znovu odeberte.", // cz
        "Quillmere kører. Luk det, og fjern det så igen.", // dk
        "Quillmere läuft. Schließe es und entferne es dann erneut.", // de
        "Quillmere is running. Close it, then remove it again.", // en
        "Quillmere está en ejecución. Ciérralo y vuelve a eliminarlo.", // es
        "Quillmere est en cours d'exécution. Fermez-le, puis supprimez-le à nouveau.", // fr
        "Quillmere è in esecuzione. Chiudilo, poi rimuovilo di nuovo.", // it
        "A Quillmere fut. Zárd be, majd távolítsd el újra.", // hu
        "Quillmere is actief. Sluit het en verwijder het dan opnieuw.", // nl
        "Quillmere jest uruchomiony. Zamknij go, a potem usuń ponownie.", // pl
        "O Quillmere está em execução. Feche-o e depois remova-o novamente.", // pt
        "Quillmere rulează. Închide-l, apoi elimină-l din nou.", // ro
        "Quillmere çalışıyor. Kapatın, ardından tekrar kaldırın.", // tr
        "Το Quillmere εκτελείται. Κλείστε το και καταργήστε το ξανά.", // gr
        "Quillmere запущен. Закройте его, затем удалите снова.", // ru
    },
    // Removed
    {
        "Quillmere byl z tohoto počítače odebrán.", // cz
        "Quillmere er blevet fjernet fra denne pc.", // dk
        "Quillmere wurde von diesem PC entfernt.", // de
        "Quillmere has been removed from this PC.", // en
        "Quillmere se ha eliminado de este PC.", // es
        "Quillmere a été supprimé de ce PC.", // fr
        "Quillmere è stato rimosso da questo PC.", // it
        "A Quillmere eltávolítva erről a gépről.", // hu
        "Quillmere is van deze pc verwijderd.", // nl
        "Quillmere został usunięty z tego komputera.", // pl
        "O Quillmere foi removido deste PC.", // pt
        "Quillmere a fost eliminat de pe acest PC.", // ro
        "Quillmere bu bilgisayardan kaldırıldı.", // tr
        "Το Quillmere καταργήθηκε από αυτόν τον υπολογιστή.", // gr
        "Quillmere удалён с этого ПК.", // ru
    },
    // RemoveIncomplete
    {
        "Některé soubory Quillmere se nepodařilo odebrat.\n{}", // cz
        "Nogle af Quillmeres filer kunne ikke fjernes.\n{}", // dk
        "Einige Dateien von Quillmere konnten nicht entfernt werden.\n{}", // de
        "Some of Quillmere's files could not be removed.\n{}", // en
        "No se han podido eliminar algunos archivos de Quillmere.\n{}", // es
        "Certains fichiers de Quillmere n'ont pas pu être supprimés.\n{}", // fr
        "Non è stato possibile rimuovere alcuni file di Quillmere.\n{}", // it
        "A Quillmere néhány fájlját nem sikerült eltávolítani.\n{}", // hu
        "Sommige bestanden van Quillmere konden niet worden verwijderd.\n{}", // nl
        "Nie udało się usunąć niektórych plików Quillmere.\n{}", // pl
        "Não foi possível remover alguns ficheiros do Quillmere.\n{}", // pt
        "Unele fișiere Quillmere nu au putut fi eliminate.\n{}", // ro
        "Quillmere'in bazı dosyaları kaldırılamadı.\n{}", // tr
        "Δεν ήταν δυνατή η κατάργηση ορισμένων αρχείων του Quillmere.\n{}", // gr
        "Не удалось удалить некоторые файлы Quillmere.\n{}", // ru
    },
    // Preloading
    {
        "Příprava další aktualizace: {} z {} MB", // cz
        "Gør den næste opdatering klar: {} af {} MB", // dk
        "Nächste Aktualisierung wird vorbereitet: {} von {} MB", // de
        "Getting the next update ready: {} of {} MB", // en
        "Preparando la próxima actualización: {} de {} MB", // es
        "Préparation de la prochaine mise à jour : {} sur {} Mo", // fr
        "Preparazione del prossimo aggiornamento: {} di {} MB", // it
        "A következő frissítés előkészítése: {} / {} MB", // hu
        "Volgende update voorbereiden: {} van {} MB", // nl
        "Przygotowywanie następnej aktualizacji: {} z {} MB", // pl
        "A preparar a próxima atualização: {} de {} MB", // pt
        "Se pregătește următoarea actualizare: {} din {} MB", // ro
        "Sonraki güncelleme hazırlanıyor: {} / {} MB", // tr
        "Προετοιμασία της επόμενης ενημέρωσης: {} από {} MB", // gr
        "Подготовка следующего обновления: {} из {} МБ", // ru
    },
};
}
