from django.urls import path

from django_app import views

urlpatterns = [
    path("", views.home, name="home"),
    path("login", views.login, name="login"),
    path("logout", views.logout, name="logout"),
    path("note", views.note, name="note"),
    path("password-reset", views.password_reset, name="password-reset"),
    path("reset", views.reset, name="reset"),
]
