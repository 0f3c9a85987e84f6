<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name></name>
    <message id="chat.agentConnected">
        <source>Tolvo Agent “%1” is connected. You can talk to me now, or open Chat.</source>
        <translation>Tolvo Agent «%1» подключён. Теперь со мной можно поговорить или открыть чат.</translation>
    </message>
    <message id="chat.back">
        <source>Back to chat</source>
        <translation>Назад к чату</translation>
    </message>
    <message id="chat.close">
        <source>Close chat</source>
        <translation>Закрыть чат</translation>
    </message>
    <message id="chat.history">
        <source>Chat history</source>
        <translation>История чата</translation>
    </message>
    <message id="chat.new">
        <source>Start a new conversation</source>
        <translation>Начать новый разговор</translation>
    </message>
    <message id="chat.placeholder">
        <source>Tell me what is unclear…</source>
        <translation>Расскажите, что непонятно…</translation>
    </message>
    <message id="chat.screenshot">
        <source>Take a screenshot</source>
        <translation>Сделать снимок экрана</translation>
    </message>
    <message id="chat.send">
        <source>Send</source>
        <translation>Отправить</translation>
    </message>
    <message id="chat.switchPlatform.agent">
        <source>A link asks me to move from %1 to the agent “%3” on %2. Your questions and screenshots would then go to %2. Connect to %2?</source>
        <translation>Ссылка просит перевести меня с %1 на агента «%3» на %2. Тогда ваши вопросы и снимки экрана будут уходить на %2. Подключиться к %2?</translation>
    </message>
    <message id="chat.switchPlatform.cancel">
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message id="chat.switchPlatform.connect">
        <source>Connect</source>
        <translation>Подключить</translation>
    </message>
    <message id="chat.switchPlatform.kept">
        <source>Staying connected to %1.</source>
        <translation>Остаюсь подключённым к %1.</translation>
    </message>
    <message id="chat.switchPlatform.pairing">
        <source>A link asks me to move from %1 to an agent on %2. Your questions and screenshots would then go to %2. Connect to %2?</source>
        <translation>Ссылка просит перевести меня с %1 на агента на %2. Тогда ваши вопросы и снимки экрана будут уходить на %2. Подключиться к %2?</translation>
    </message>
    <message id="chat.welcome">
        <source>Hi! Show me what is unclear on your screen and I’ll tell you the next step.</source>
        <translation>Привет! Покажите, что непонятно на экране, и я подскажу следующий шаг.</translation>
    </message>
    <message id="context.screen.app">
        <source>The screen showed the application %1.</source>
        <translation>На экране было приложение %1.</translation>
    </message>
    <message id="context.screen.appWindow">
        <source>The screen showed the application %1, window “%2”.</source>
        <translation>На экране было приложение %1, окно «%2».</translation>
    </message>
    <message id="context.screen.window">
        <source>The screen showed the window “%1”.</source>
        <translation>На экране было окно «%1».</translation>
    </message>
    <message id="context.tag.analyst">
        <source>[ANALYST]</source>
        <translation>[АНАЛИТИК]</translation>
    </message>
    <message id="context.tag.screen">
        <source>[SCREEN]</source>
        <translation>[ЭКРАН]</translation>
    </message>
    <message id="error.action.restart">
        <source>Restart Nimbel</source>
        <translation>Перезапустить Nimbel</translation>
    </message>
    <message id="error.action.screenSettings">
        <source>Open screen settings</source>
        <translation>Открыть настройки экрана</translation>
    </message>
    <message id="error.action.voiceSettings">
        <source>Open voice permissions</source>
        <translation>Открыть разрешения для голоса</translation>
    </message>
    <message id="error.gateway.pageContext">
        <source>Could not prepare the page context.</source>
        <translation>Не удалось подготовить контекст страницы.</translation>
    </message>
    <message id="error.keychain.save">
        <source>Could not save the Zelm API key to the Keychain.</source>
        <translation>Не удалось сохранить API-ключ Zelm в хранилище ключей.</translation>
    </message>
    <message id="error.localstt.denied">
        <source>On-device speech recognition is not allowed in the system settings.</source>
        <translation>Распознавание речи на устройстве запрещено в системных настройках.</translation>
    </message>
    <message id="error.localstt.empty">
        <source>On-device recognition made nothing of the recording.</source>
        <translation>Распознавание на устройстве ничего не разобрало в записи.</translation>
    </message>
    <message id="error.localstt.unavailable">
        <source>On-device recognition is unavailable for %1.</source>
        <translation>Распознавание на устройстве недоступно для языка %1.</translation>
    </message>
    <message id="error.loginItem">
        <source>Could not change launch at login: %1</source>
        <translation>Не удалось изменить запуск при входе: %1</translation>
    </message>
    <message id="error.mic.denied">
        <source>No microphone access. Allow it in the macOS privacy settings.</source>
        <translation>Нет доступа к микрофону. Разрешите его в системных настройках конфиденциальности.</translation>
    </message>
    <message id="error.mic.engine">
        <source>macOS could not start the audio input. Check the selected microphone.</source>
        <translation>Системе не удалось запустить аудиовход. Проверьте выбранный микрофон.</translation>
    </message>
    <message id="error.mic.recording">
        <source>Could not record your voice. Check the microphone and try again.</source>
        <translation>Не удалось записать голос. Проверьте микрофон и попробуйте ещё раз.</translation>
    </message>
    <message id="error.restart.failed">
        <source>Could not start Nimbel again. Quit it and open it from the applications menu.</source>
        <translation>Не удалось снова запустить Nimbel. Закройте его и откройте из меню приложений.</translation>
    </message>
    <message id="error.screen.denied">
        <source>Allow Nimbel to record the screen in System Settings → Privacy &amp; Security.</source>
        <translation>Разрешите Nimbel запись экрана в системных настройках.</translation>
    </message>
    <message id="error.screen.empty">
        <source>macOS returned an empty screenshot. Try another window.</source>
        <translation>Система вернула пустой снимок экрана. Попробуйте другое окно.</translation>
    </message>
    <message id="error.screen.noTarget">
        <source>Could not find a window or a screen to capture.</source>
        <translation>Не удалось найти окно или экран для снимка.</translation>
    </message>
    <message id="error.screen.restart">
        <source>The screen recording permission changed. Restart Nimbel once.</source>
        <translation>Разрешение на запись экрана изменилось. Перезапустите Nimbel один раз.</translation>
    </message>
    <message id="error.screenQuestion.unavailable">
        <source>Screen questions are not available yet.</source>
        <translation>Вопросы об экране пока недоступны.</translation>
    </message>
    <message id="error.settings.microphoneUnavailable">
        <source>This desktop has no settings tool for the microphone. Choose the input device in your sound settings.</source>
        <translation>На этом рабочем столе нет настроек микрофона. Выберите устройство ввода в настройках звука.</translation>
    </message>
    <message id="error.settings.screenUnavailable">
        <source>This desktop has no settings tool for screen recording. Allow screen capture in your desktop’s own settings.</source>
        <translation>На этом рабочем столе нет настроек записи экрана. Разрешите снимки экрана в настройках вашего рабочего стола.</translation>
    </message>
    <message id="error.title.general">
        <source>That did not work</source>
        <translation>Не получилось</translation>
    </message>
    <message id="error.title.permission">
        <source>Permission needed</source>
        <translation>Нужно разрешение</translation>
    </message>
    <message id="error.voice.audio">
        <source>Zelm Platform returned audio we could not play.</source>
        <translation>Zelm Platform прислала звук, который не удалось воспроизвести.</translation>
    </message>
    <message id="error.voice.playback">
        <source>Could not play the agent’s voice.</source>
        <translation>Не удалось воспроизвести голос агента.</translation>
    </message>
    <message id="firstRun.accessibility.body">
        <source>Lets me read the names of buttons and the address of the page you’re on, so I can point at the right thing instead of guessing from the picture. Read-only: I never click anything for you.</source>
        <translation>Позволяет мне читать названия кнопок и адрес открытой страницы, чтобы указывать на нужное, а не угадывать по картинке. Только чтение: я никогда ничего не нажимаю за вас.</translation>
    </message>
    <message id="firstRun.accessibility.skipped">
        <source>Skipped. Everything still works, except that I won’t know which page a browser is on — so questions about the site in front of you will be answered from the picture alone.</source>
        <translation>Пропущено. Всё работает, только я не буду знать, какая страница открыта в браузере, — поэтому на вопросы о сайте перед вами я буду отвечать только по картинке.</translation>
    </message>
    <message id="firstRun.accessibility.title">
        <source>Reading labels (optional)</source>
        <translation>Чтение подписей (необязательно)</translation>
    </message>
    <message id="firstRun.allow">
        <source>Allow</source>
        <translation>Разрешить</translation>
    </message>
    <message id="firstRun.connect.body">
        <source>Open your console on %1 and press “Connect”. The code comes back to this app by itself — you never copy a key by hand.</source>
        <translation>Откройте свою консоль на %1 и нажмите «Connect». Код сам вернётся в это приложение — копировать ключ вручную не придётся.</translation>
    </message>
    <message id="firstRun.connect.done">
        <source>Connected to “%1”</source>
        <translation>Подключено к «%1»</translation>
    </message>
    <message id="firstRun.connect.openConsole">
        <source>Open the console</source>
        <translation>Открыть консоль</translation>
    </message>
    <message id="firstRun.connect.title">
        <source>Connect your Zelm account</source>
        <translation>Подключите аккаунт Zelm</translation>
    </message>
    <message id="firstRun.connect.waiting">
        <source>Waiting for the console…</source>
        <translation>Жду ответа консоли…</translation>
    </message>
    <message id="firstRun.continue">
        <source>Continue</source>
        <translation>Продолжить</translation>
    </message>
    <message id="firstRun.done">
        <source>Start talking</source>
        <translation>Начать разговор</translation>
    </message>
    <message id="firstRun.granted">
        <source>Allowed</source>
        <translation>Разрешено</translation>
    </message>
    <message id="firstRun.microphone.body">
        <source>So you can talk to me instead of typing. It’s open only while a voice conversation is running, and it closes when you hang up.</source>
        <translation>Чтобы вы могли говорить со мной, а не печатать. Микрофон открыт только во время голосового разговора и закрывается, когда вы его завершаете.</translation>
    </message>
    <message id="firstRun.microphone.refused">
        <source>macOS only lets an app ask once, so I can’t ask again from here. The switch is in System Settings → Privacy &amp; Security → Microphone. Without it you can still type to me.</source>
        <translation>Система позволяет приложению спросить только один раз, поэтому отсюда я не могу спросить снова. Переключатель находится в системных настройках, в разделе конфиденциальности микрофона. Без него мне по-прежнему можно писать.</translation>
    </message>
    <message id="firstRun.microphone.title">
        <source>The microphone</source>
        <translation>Микрофон</translation>
    </message>
    <message id="firstRun.openSettings">
        <source>Open System Settings</source>
        <translation>Открыть системные настройки</translation>
    </message>
    <message id="firstRun.restart">
        <source>Restart Zelm</source>
        <translation>Перезапустить Zelm</translation>
    </message>
    <message id="firstRun.screen.body">
        <source>When you ask something about what you’re looking at, I take one picture of the window in front of you and read it. One picture, per question you ask.</source>
        <translation>Когда вы спрашиваете о том, что видите, я делаю один снимок окна перед вами и читаю его. Один снимок — на каждый ваш вопрос.</translation>
    </message>
    <message id="firstRun.screen.monthly">
        <source>macOS will ask you to confirm this again about once a month. That’s macOS, not us — every app that can look at a screen gets the same reminder, and it can’t be switched off.</source>
        <translation>Система может время от времени просить подтвердить это снова. Это требование системы, а не наше: такое напоминание получает любое приложение, которое может смотреть на экран, и отключить его нельзя.</translation>
    </message>
    <message id="firstRun.screen.never">
        <source>I never record your screen. Nothing is watched in the background, and nothing is taken unless a question asks for it.</source>
        <translation>Я никогда не записываю ваш экран. Ничего не отслеживается в фоне, и ничего не снимается, если этого не требует вопрос.</translation>
    </message>
    <message id="firstRun.screen.refused">
        <source>Fine — I’ll answer everything that doesn’t need the screen. You can turn it on later in System Settings → Privacy &amp; Security → Screen &amp; System Audio Recording.</source>
        <translation>Хорошо — я отвечу на всё, для чего не нужен экран. Включить доступ можно позже в системных настройках, в разделе записи экрана.</translation>
    </message>
    <message id="firstRun.screen.restart">
        <source>macOS doesn’t hand a changed screen permission to an app that’s already running. One restart and it takes effect.</source>
        <translation>Система не передаёт изменённое разрешение на экран уже запущенному приложению. Один перезапуск — и оно заработает.</translation>
    </message>
    <message id="firstRun.screen.title">
        <source>Looking at your screen</source>
        <translation>Просмотр экрана</translation>
    </message>
    <message id="firstRun.screen.whatItSees">
        <source>What Nimbel sees →</source>
        <translation>Что видит Nimbel →</translation>
    </message>
    <message id="firstRun.skip">
        <source>Skip for now</source>
        <translation>Пока пропустить</translation>
    </message>
    <message id="firstRun.step">
        <source>Step %1 of %2</source>
        <translation>Шаг %1 из %2</translation>
    </message>
    <message id="firstRun.welcome.body">
        <source>I live in the menu bar. Press the sphere and talk to me, or type. I can answer about what’s on your screen when you ask — and I’ll ask for two permissions first, one at a time, explaining each.</source>
        <translation>Я живу в системном трее. Нажмите на сферу и говорите со мной или печатайте. Когда попросите, я отвечу о том, что у вас на экране, — но сначала попрошу два разрешения, по одному, и объясню каждое.</translation>
    </message>
    <message id="firstRun.welcome.title">
        <source>Hello — I’m Nimbel</source>
        <translation>Привет, я Nimbel</translation>
    </message>
    <message id="menu.open">
        <source>Open Nimbel</source>
        <translation>Открыть Nimbel</translation>
    </message>
    <message id="menu.quit">
        <source>Quit</source>
        <translation>Выйти</translation>
    </message>
    <message id="menu.screenshot">
        <source>Take a screenshot</source>
        <translation>Сделать снимок экрана</translation>
    </message>
    <message id="menu.updates">
        <source>Check for Updates…</source>
        <translation>Проверить обновления…</translation>
    </message>
    <message id="orb.collapse">
        <source>Collapse chat</source>
        <translation>Свернуть чат</translation>
    </message>
    <message id="orb.connectVoice">
        <source>Connect voice</source>
        <translation>Подключить голос</translation>
    </message>
    <message id="orb.connected">
        <source>Connected</source>
        <translation>Подключено</translation>
    </message>
    <message id="orb.end">
        <source>End the conversation</source>
        <translation>Завершить разговор</translation>
    </message>
    <message id="orb.interrupt">
        <source>Interrupt the answer and speak</source>
        <translation>Прервать ответ и заговорить</translation>
    </message>
    <message id="orb.micOff">
        <source>Off</source>
        <translation>Выкл.</translation>
    </message>
    <message id="orb.mute">
        <source>Turn the microphone off</source>
        <translation>Выключить микрофон</translation>
    </message>
    <message id="orb.notConnected">
        <source>Not connected</source>
        <translation>Не подключено</translation>
    </message>
    <message id="orb.open">
        <source>Open chat</source>
        <translation>Открыть чат</translation>
    </message>
    <message id="orb.opened">
        <source>Open</source>
        <translation>Открыт</translation>
    </message>
    <message id="orb.unmute">
        <source>Turn the microphone on</source>
        <translation>Включить микрофон</translation>
    </message>
    <message id="orb.voiceCall">
        <source>Voice call with %1</source>
        <translation>Голосовой разговор: %1</translation>
    </message>
    <message id="orb.voiceOff">
        <source>End the voice session</source>
        <translation>Завершить голосовой сеанс</translation>
    </message>
    <message id="orb.voiceOn">
        <source>Start a voice session</source>
        <translation>Начать голосовой сеанс</translation>
    </message>
    <message id="orb.voiceUnavailable">
        <source>Voice conversation is not available yet</source>
        <translation>Голосовой разговор пока недоступен</translation>
    </message>
    <message id="orb.write">
        <source>Write a message</source>
        <translation>Написать сообщение</translation>
    </message>
    <message id="permission.allowed">
        <source>Allowed</source>
        <translation>Разрешено</translation>
    </message>
    <message id="permission.denied">
        <source>Denied</source>
        <translation>Запрещено</translation>
    </message>
    <message id="permission.needed">
        <source>Permission needed</source>
        <translation>Нужно разрешение</translation>
    </message>
    <message id="permission.notRequested">
        <source>Not requested</source>
        <translation>Не запрашивалось</translation>
    </message>
    <message id="permission.restricted">
        <source>Restricted</source>
        <translation>Ограничено</translation>
    </message>
    <message id="permission.screenRecording">
        <source>Screen Recording</source>
        <translation>Запись экрана</translation>
    </message>
    <message id="permission.unknown">
        <source>Unknown</source>
        <translation>Неизвестно</translation>
    </message>
    <message id="sent.accessibility">
        <source>Accessibility summary</source>
        <translation>Сводка специальных возможностей</translation>
    </message>
    <message id="sent.address">
        <source>Page address</source>
        <translation>Адрес страницы</translation>
    </message>
    <message id="sent.close">
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message id="sent.controls">
        <source>Controls</source>
        <translation>Элементы управления</translation>
    </message>
    <message id="sent.digest">
        <source>Checksum (SHA-256): %1</source>
        <translation>Контрольная сумма: %1</translation>
    </message>
    <message id="sent.lines">
        <source>Recognised lines</source>
        <translation>Распознанные строки</translation>
    </message>
    <message id="sent.none">
        <source>Nothing</source>
        <translation>Ничего</translation>
    </message>
    <message id="sent.open">
        <source>What was sent</source>
        <translation>Что было отправлено</translation>
    </message>
    <message id="sent.picture">
        <source>Picture: %1 × %2 pixels, %3 bytes</source>
        <translation>Снимок: %1 × %2 пикселей, %3 байт</translation>
    </message>
    <message id="sent.summary">
        <source>Screen summary</source>
        <translation>Сводка экрана</translation>
    </message>
    <message id="sent.title">
        <source>What left this computer for the question</source>
        <translation>Что ушло с компьютера для этого вопроса</translation>
    </message>
    <message id="sent.withheld">
        <source>Lines withheld as secrets, and covered in the picture above: %1.</source>
        <translation>Строк, скрытых как секреты и закрытых на снимке выше: %1.</translation>
    </message>
    <message id="settings.agentNotConnected">
        <source>Agent not connected</source>
        <translation>Агент не подключён</translation>
    </message>
    <message id="settings.autoUpdate">
        <source>Update automatically</source>
        <translation>Обновлять автоматически</translation>
    </message>
    <message id="settings.autoUpdate.hint">
        <source>Nimbel checks for new versions in the background.</source>
        <translation>Nimbel проверяет новые версии в фоне.</translation>
    </message>
    <message id="settings.change">
        <source>Change</source>
        <translation>Изменить</translation>
    </message>
    <message id="settings.check">
        <source>Check</source>
        <translation>Проверить</translation>
    </message>
    <message id="settings.chooseAgent">
        <source>Choose an agent in your console</source>
        <translation>Выберите агента в своей консоли</translation>
    </message>
    <message id="settings.connect">
        <source>Connect</source>
        <translation>Подключить</translation>
    </message>
    <message id="settings.highlight">
        <source>Show me where</source>
        <translation>Показать где</translation>
    </message>
    <message id="settings.highlight.hint">
        <source>A ring on the screen around the control an answer points at, for a few seconds.</source>
        <translation>Кольцо на экране вокруг элемента, на который указывает ответ, на несколько секунд.</translation>
    </message>
    <message id="settings.highlight.unavailable">
        <source>Needs an X11 session.</source>
        <translation>Нужен сеанс X11.</translation>
    </message>
    <message id="settings.labels">
        <source>Interface labels</source>
        <translation>Подписи интерфейса</translation>
    </message>
    <message id="settings.labels.hint">
        <source>Optional read-only Accessibility context.</source>
        <translation>Необязательный контекст специальных возможностей, только для чтения.</translation>
    </message>
    <message id="settings.language.en">
        <source>English</source>
        <translation>English</translation>
    </message>
    <message id="settings.language.restartHint">
        <source>Nimbel restarts to change its language.</source>
        <translation>Чтобы сменить язык, Nimbel перезапустится.</translation>
    </message>
    <message id="settings.language.ru">
        <source>Русский</source>
        <translation>Русский</translation>
    </message>
    <message id="settings.language.system">
        <source>Same as macOS</source>
        <translation>Как в системе</translation>
    </message>
    <message id="settings.launchAtLogin">
        <source>Launch with macOS</source>
        <translation>Запускать при входе в систему</translation>
    </message>
    <message id="settings.launchAtLogin.hint">
        <source>The agent stays reachable in every space.</source>
        <translation>Агент доступен на любом рабочем столе.</translation>
    </message>
    <message id="settings.microphone">
        <source>Microphone</source>
        <translation>Микрофон</translation>
    </message>
    <message id="settings.noRedownload">
        <source>No need to download the DMG again.</source>
        <translation>Скачивать пакет заново не нужно.</translation>
    </message>
    <message id="firstRun.settings.noBrowser">
        <source>No web browser opened the page. Open your platform’s web site and look for its privacy page.</source>
        <translation>Браузер не открыл страницу. Откройте сайт платформы и найдите страницу о конфиденциальности.</translation>
    </message>
    <message id="firstRun.back">
        <source>Back</source>
        <translation>Назад</translation>
    </message>
    <message id="settings.update.download">
        <source>Open the download page</source>
        <translation>Открыть страницу загрузки</translation>
    </message>
    <message id="settings.noUpdateChecker">
        <source>this build has no update checker.</source>
        <translation>в этой сборке нет проверки обновлений.</translation>
    </message>
    <message id="settings.platformAddress">
        <source>Platform address</source>
        <translation>Адрес платформы</translation>
    </message>
    <message id="settings.platformConnected">
        <source>Zelm Platform connected</source>
        <translation>Zelm Platform подключена</translation>
    </message>
    <message id="settings.privacy">
        <source>What Nimbel sees</source>
        <translation>Что видит Nimbel</translation>
    </message>
    <message id="settings.privacy.hint">
        <source>One screenshot per question you ask, never a recording — and a straight answer about what leaves your Mac.</source>
        <translation>Один снимок экрана на каждый ваш вопрос, никакой записи — и честный ответ о том, что покидает ваш компьютер.</translation>
    </message>
    <message id="settings.recheckPermissions">
        <source>Check permissions again</source>
        <translation>Проверить разрешения ещё раз</translation>
    </message>
    <message id="settings.save">
        <source>Save</source>
        <translation>Сохранить</translation>
    </message>
    <message id="settings.section.connection">
        <source>Connection</source>
        <translation>Подключение</translation>
    </message>
    <message id="settings.section.language">
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message id="settings.section.privacy">
        <source>Privacy</source>
        <translation>Конфиденциальность</translation>
    </message>
    <message id="settings.section.screen">
        <source>Screen context</source>
        <translation>Контекст экрана</translation>
    </message>
    <message id="settings.section.updates">
        <source>Updates</source>
        <translation>Обновления</translation>
    </message>
    <message id="settings.section.voice">
        <source>Voice</source>
        <translation>Голос</translation>
    </message>
    <message id="settings.shortcut">
        <source>Voice shortcut</source>
        <translation>Голосовое сочетание клавиш</translation>
    </message>
    <message id="settings.shortcut.recording">
        <source>Press the keys…</source>
        <translation>Нажмите клавиши…</translation>
    </message>
    <message id="settings.shortcut.taken">
        <source>Taken by another program. Choose another combination.</source>
        <translation>Занято другой программой. Выберите другое сочетание.</translation>
    </message>
    <message id="settings.shortcut.unavailable">
        <source>Global shortcuts need an X11 session.</source>
        <translation>Глобальные сочетания клавиш работают только в сеансе X11.</translation>
    </message>
    <message id="settings.shortcut.unsupported">
        <source>This combination cannot be used. Include Ctrl, Alt or Super.</source>
        <translation>Это сочетание нельзя использовать: добавьте к нему клавишу-модификатор.</translation>
    </message>
    <message id="settings.showFirstRun">
        <source>Show the introduction again</source>
        <translation>Показать знакомство ещё раз</translation>
    </message>
    <message id="settings.speakAnswers">
        <source>Speak answers</source>
        <translation>Озвучивать ответы</translation>
    </message>
    <message id="settings.speakAnswers.hint">
        <source>Nimbel reads its hints out loud.</source>
        <translation>Nimbel читает подсказки вслух.</translation>
    </message>
    <message id="settings.title">
        <source>Settings</source>
        <translation>Настройки</translation>
    </message>
    <message id="settings.transcription">
        <source>Zelm Platform transcription</source>
        <translation>Распознавание речи Zelm Platform</translation>
    </message>
    <message id="settings.updateUnavailable">
        <source>Updates unavailable: %1</source>
        <translation>Обновления недоступны: %1</translation>
    </message>
    <message id="settings.version">
        <source>Version %1</source>
        <translation>Версия %1</translation>
    </message>
    <message id="skill.screenUnderstandingOff">
        <source>The “Understand what is on screen” skill is switched off in the Tolvo Agent settings.</source>
        <translation>Навык «Понимать, что на экране» выключен в настройках Tolvo Agent.</translation>
    </message>
    <message id="skill.screenshotOff">
        <source>The “Take a screenshot” skill is switched off in the Tolvo Agent settings.</source>
        <translation>Навык «Делать снимок экрана» выключен в настройках Tolvo Agent.</translation>
    </message>
    <message id="skill.voiceOff">
        <source>Voice mode is switched off in the Tolvo Agent settings.</source>
        <translation>Голосовой режим выключен в настройках Tolvo Agent.</translation>
    </message>
    <message id="speech.notHeard">
        <source>I didn’t catch that. Please say it again.</source>
        <translation>Не получилось расслышать. Повторите, пожалуйста.</translation>
    </message>
    <message id="speech.platformUnavailable">
        <source>The platform is unreachable — nothing was transcribed.</source>
        <translation>Платформа недоступна — ничего не распознано.</translation>
    </message>
    <message id="speech.serviceUnavailable">
        <source>Speech recognition is unavailable.</source>
        <translation>Распознавание речи недоступно.</translation>
    </message>
    <message id="state.analyzing">
        <source>Working it out…</source>
        <translation>Разбираюсь…</translation>
    </message>
    <message id="state.answered">
        <source>Answer ready</source>
        <translation>Ответ готов</translation>
    </message>
    <message id="state.captured">
        <source>Screenshot ready</source>
        <translation>Снимок экрана готов</translation>
    </message>
    <message id="state.capturing">
        <source>Looking at the screen…</source>
        <translation>Смотрю на экран…</translation>
    </message>
    <message id="state.failed">
        <source>Needs a check</source>
        <translation>Нужна проверка</translation>
    </message>
    <message id="state.ready">
        <source>Ready</source>
        <translation>Готово</translation>
    </message>
    <message id="status.agentSpeaking">
        <source>%1 is answering — you can interrupt by speaking</source>
        <translation>%1 отвечает — можно перебить голосом</translation>
    </message>
    <message id="status.answering">
        <source>Answering…</source>
        <translation>Отвечаю…</translation>
    </message>
    <message id="status.checkPermissions">
        <source>Check permissions</source>
        <translation>Проверьте разрешения</translation>
    </message>
    <message id="status.listening">
        <source>Listening…</source>
        <translation>Слушаю…</translation>
    </message>
    <message id="status.listeningToYou">
        <source>Listening to you…</source>
        <translation>Слушаю вас…</translation>
    </message>
    <message id="status.listeningWillSend">
        <source>Listening… I’ll send it after a short pause.</source>
        <translation>Слушаю… Отправлю после короткой паузы.</translation>
    </message>
    <message id="status.micOff">
        <source>Microphone off</source>
        <translation>Микрофон выключен</translation>
    </message>
    <message id="status.online">
        <source>Online · I look at the screen when you ask</source>
        <translation>В сети · смотрю на экран, когда вы просите</translation>
    </message>
    <message id="status.requestingMic">
        <source>Asking for microphone access…</source>
        <translation>Запрашиваю доступ к микрофону…</translation>
    </message>
    <message id="status.stopped">
        <source>Stopped</source>
        <translation>Остановлено</translation>
    </message>
    <message id="status.thinking">
        <source>Thinking…</source>
        <translation>Думаю…</translation>
    </message>
    <message id="status.transcribing">
        <source>Transcribing…</source>
        <translation>Распознаю речь…</translation>
    </message>
    <message id="status.voiceConnected">
        <source>Voice connected</source>
        <translation>Голос подключён</translation>
    </message>
    <message id="status.voiceOff">
        <source>Voice off</source>
        <translation>Голос выключен</translation>
    </message>
    <message id="status.voiceReady">
        <source>Voice ready</source>
        <translation>Голос готов</translation>
    </message>
    <message id="status.voiceUnavailable">
        <source>The agent’s voice is unavailable right now.</source>
        <translation>Голос агента сейчас недоступен.</translation>
    </message>
    <message id="transcript.warning">
        <source>Warning: %1</source>
        <translation>Внимание: %1</translation>
    </message>
    <message id="tray.tooltip">
        <source>Nimbel: type a question about your screen</source>
        <translation>Nimbel: напишите вопрос о том, что на экране</translation>
    </message>
    <message id="update.available">
        <source>Version %1 is available.</source>
        <translation>Доступна версия %1.</translation>
    </message>
    <message id="update.checking">
        <source>Checking for updates…</source>
        <translation>Проверяю обновления…</translation>
    </message>
    <message id="update.error.badSignature">
        <source>The download of version %1 is not signed with the release key.</source>
        <translation>Загрузка версии %1 не подписана ключом выпусков.</translation>
    </message>
    <message id="update.error.download">
        <source>Could not download version %1 to verify it.</source>
        <translation>Не удалось загрузить версию %1 для проверки.</translation>
    </message>
    <message id="update.error.insecureFeed">
        <source>Updates are only accepted over HTTPS.</source>
        <translation>Обновления принимаются только по защищённому соединению.</translation>
    </message>
    <message id="update.error.malformed">
        <source>The update feed could not be read.</source>
        <translation>Не удалось прочитать ленту обновлений.</translation>
    </message>
    <message id="update.error.network">
        <source>Could not reach the update feed: %1</source>
        <translation>Лента обновлений недоступна: %1</translation>
    </message>
    <message id="update.error.noFeed">
        <source>No update feed is configured.</source>
        <translation>Лента обновлений не настроена.</translation>
    </message>
    <message id="update.error.noKey">
        <source>This build has no key to verify updates with.</source>
        <translation>В этой сборке нет ключа для проверки обновлений.</translation>
    </message>
    <message id="update.error.noRelease">
        <source>The update feed lists no release.</source>
        <translation>В ленте обновлений нет ни одного выпуска.</translation>
    </message>
    <message id="update.error.tooLarge">
        <source>The update feed is too large.</source>
        <translation>Лента обновлений слишком велика.</translation>
    </message>
    <message id="update.error.unsigned">
        <source>Version %1 is offered without a signature.</source>
        <translation>Версия %1 предложена без подписи.</translation>
    </message>
    <message id="update.notNewer">
        <source>No update: the feed offers %1, this is %2.</source>
        <translation>Обновлений нет: в ленте версия %1, установлена %2.</translation>
    </message>
    <message id="update.upToDate">
        <source>Nimbel %1 is up to date.</source>
        <translation>Nimbel %1 — последняя версия.</translation>
    </message>
    <message id="firstRun.settings.noScreenSwitch">
        <source>This desktop has no switch for screen pictures: every app may take them, so there is nothing to turn on.</source>
        <translation>На этом рабочем столе нет переключателя для снимков экрана: их может делать любое приложение, включать ничего не нужно.</translation>
    </message>
    <message id="firstRun.settings.noTool">
        <source>No settings tool of this desktop was found. Open your desktop’s settings and look for the microphone or accessibility section.</source>
        <translation>Не найдено приложение настроек этого рабочего стола. Откройте настройки рабочего стола и найдите раздел микрофона или специальных возможностей.</translation>
    </message>
    <message id="error.gateway.connectionFailed">
        <source>Could not connect to Zelm Platform. For the local beta, start the platform on port 4100.</source>
        <translation>Не удалось подключиться к Zelm Platform. Для local beta запустите платформу на порту 4100.</translation>
    </message>
    <message id="error.gateway.generic">
        <source>That didn’t work — I’ll look into it.</source>
        <translation>Не получилось, сейчас разберусь.</translation>
    </message>
    <message id="error.gateway.imageEncoding">
        <source>Could not prepare the screenshot.</source>
        <translation>Не удалось подготовить скриншот.</translation>
    </message>
    <message id="error.gateway.invalidBaseURL">
        <source>Check the Zelm Platform address.</source>
        <translation>Проверьте адрес Zelm Platform.</translation>
    </message>
    <message id="error.gateway.invalidResponse">
        <source>Zelm Platform returned an invalid response.</source>
        <translation>Zelm Platform вернула некорректный ответ.</translation>
    </message>
    <message id="error.gateway.notConnected">
        <source>Connect Tolvo Agent on the Zelm Platform page.</source>
        <translation>Подключите Tolvo Agent на странице Zelm Platform.</translation>
    </message>
</context>
</TS>
