// The launcher page's side of the contract with the launcher: five functions
// it calls, and the texts it asks for by number.
(function () {
  var texts = {
    en: {
      0: "127.0.0.1/glimmerhold/",
      10: "Glimmerhold Updater",
      14: "There is a new version of the launcher available. The update process will start again.",
      15: "Download error code %i",
      16: "Invalid  Socket.",
      17: "The update server is not available. Please try again later.",
      18: "Connection error.",
      19: "Invalid response from the server.",
      21: "Request timeout.",
      22: "Starting...",
      23: "Ready to play",
      24: "Play",
      25: "Downloading ",
      tagline: "The realm beneath the mountain",
      newsTitle: "News",
      newsHead: "Patch 1.4.2: The Lantern Roads",
      newsBody: "New caravan routes light up the Deepway, the Ember Vault has been rebalanced, and the Spanish translation now covers every quest.",
      notes: "Read the full patch notes \u2192",
      realm: "Realm",
      version: "Version"
    },
    es: {
      0: "127.0.0.1/glimmerhold/",
      10: "Actualizador de Glimmerhold",
      14: "Hay una nueva versi\u00f3n del lanzador. La actualizaci\u00f3n volver\u00e1 a empezar.",
      15: "Error de descarga %i",
      16: "Socket no v\u00e1lido.",
      17: "El servidor de actualizaciones no est\u00e1 disponible. Int\u00e9ntalo m\u00e1s tarde.",
      18: "Error de conexi\u00f3n.",
      19: "Respuesta no v\u00e1lida del servidor.",
      21: "Tiempo de espera agotado.",
      22: "Comenzando...",
      23: "Listo para jugar",
      24: "Jugar",
      25: "Descargando ",
      tagline: "El reino bajo la monta\u00f1a",
      newsTitle: "Noticias",
      newsHead: "Parche 1.4.2: Los Caminos de Faroles",
      newsBody: "Nuevas rutas de caravanas iluminan el Camino Profundo, la B\u00f3veda de Brasas se ha reequilibrado y la traducci\u00f3n al espa\u00f1ol ya cubre todas las misiones.",
      notes: "Lee las notas del parche completas \u2192",
      realm: "Reino",
      version: "Versi\u00f3n"
    }
  };
  var match = /[?&]lang=([a-z]*)/.exec(window.location.search);
  var lang = match && texts[match[1]] ? match[1] : "en";
  var t = texts[lang];

  function byId(id) { return document.getElementById(id); }
  byId("tagline").textContent = t.tagline;
  byId("news-title").textContent = t.newsTitle;
  byId("news-head").textContent = t.newsHead;
  byId("news-body").textContent = t.newsBody;
  byId("notes-link").textContent = t.notes;
  byId("realm-label").textContent = t.realm;
  byId("version-label").textContent = t.version;
  byId("play-label").textContent = t[24];
  document.documentElement.lang = lang;

  var play = byId("boton-jugar");
  var playDisabled = true;
  // While the update runs, a press on Play must not reach the launcher.
  document.addEventListener("mousedown", function (event) {
    if (playDisabled && play.contains(event.target)) event.stopPropagation();
  }, true);

  window.setVariableText = function (text) { byId("status").textContent = text; };
  window.setProgressBar = function (percent) {
    var shown = Math.max(0, Math.min(100, percent));
    byId("bar").style.width = shown + "%";
    byId("percent").textContent = shown + "%";
  };
  window.setButtonText = function (text) { byId("play-label").textContent = text === null ? "" : text; };
  window.disablePlayButton = function (disabled) {
    playDisabled = !!disabled;
    play.className = playDisabled ? "disabled" : "";
  };
  window.localization = function (id) {
    return Object.prototype.hasOwnProperty.call(t, id) ? t[id] : "";
  };
})();
